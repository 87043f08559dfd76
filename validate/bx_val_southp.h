// bx_val_southp: the SouthP validators (card).
//
// The setup, bx_val_southp_setup, is declared with the others in bx_val.h;
// bx_init calls it.  The processing requests call these validators through
// the session's slots.
#ifndef BRIX_VALIDATE_BX_VAL_SOUTHP_H
#define BRIX_VALIDATE_BX_VAL_SOUTHP_H

#include "validate/bx_val.h"

#ifdef __cplusplus
extern "C" {
#endif

// Amount not zero and at most 999999.99, card number and expiry present,
// expiry well formed, card number in a known issuer range.
int bx_val_southp_ccard(bx_session vsess, bx_xaction vxact);
// The card check and the Luhn check digit.
int bx_val_southp(bx_session vsess, bx_xaction vxact);
// bx_val_southp, an authorisation code, not reversed.
int bx_val_southp_sale(bx_session vsess, bx_xaction vxact);

#ifdef __cplusplus
}
#endif

#endif
