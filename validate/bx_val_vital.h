// bx_val_vital: the VITAL validators (card).
//
// The setup, bx_val_vital_setup, is declared with the others in bx_val.h;
// bx_init calls it.  The processing requests call these validators through
// the session's slots.
#ifndef BRIX_VALIDATE_BX_VAL_VITAL_H
#define BRIX_VALIDATE_BX_VAL_VITAL_H

#include "validate/bx_val.h"

#ifdef __cplusplus
extern "C" {
#endif

// Amount not zero, not both tracks, card number and expiry present and
// well formed.
int bx_val_vital_ccard(bx_session vsess, bx_xaction vxact);
// The card check, and at most 99999.99.
int bx_val_vital(bx_session vsess, bx_xaction vxact);
// bx_val_vital, an authorisation code, not reversed.
int bx_val_vital_sale(bx_session vsess, bx_xaction vxact);

#ifdef __cplusplus
}
#endif

#endif
