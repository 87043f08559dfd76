// bx_val_nash: the Nashville validators (card).
//
// The setup, bx_val_nash_setup, is declared with the others in bx_val.h;
// bx_init calls it.  The processing requests call these validators through
// the session's slots.
#ifndef BRIX_VALIDATE_BX_VAL_NASH_H
#define BRIX_VALIDATE_BX_VAL_NASH_H

#include "validate/bx_val.h"

#ifdef __cplusplus
extern "C" {
#endif

// As SouthP's card check, but at most 99999.99.
int bx_val_nash_ccard(bx_session vsess, bx_xaction vxact);
// A test order passes at once; any other needs the card check and the
// Luhn check digit.
int bx_val_nash(bx_session vsess, bx_xaction vxact);
// Not a test order, and bx_val_nash.
int bx_val_nash_return(bx_session vsess, bx_xaction vxact);
// Not a test order, bx_val_nash, an authorisation code that is more than
// blanks, not reversed.
int bx_val_nash_sale(bx_session vsess, bx_xaction vxact);

#ifdef __cplusplus
}
#endif

#endif
