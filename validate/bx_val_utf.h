// bx_val_utf: the UTF validators (card).
//
// The setup, bx_val_utf_setup, is declared with the others in bx_val.h;
// bx_init calls it.  The processing requests call these validators through
// the session's slots.
#ifndef BRIX_VALIDATE_BX_VAL_UTF_H
#define BRIX_VALIDATE_BX_VAL_UTF_H

#include "validate/bx_val.h"

#ifdef __cplusplus
extern "C" {
#endif

// Amount not zero, not both tracks, card number and expiry present.
int bx_val_utf_ccard(bx_session vsess, bx_xaction vxact);
// The card check alone.
int bx_val_utf(bx_session vsess, bx_xaction vxact);
// bx_val_utf, an authorisation code, not reversed.
int bx_val_utf_sale(bx_session vsess, bx_xaction vxact);
// bx_val_utf, a direct-marketing merchant and a Visa card.
int bx_val_utf_reverse(bx_session vsess, bx_xaction vxact);

#ifdef __cplusplus
}
#endif

#endif
