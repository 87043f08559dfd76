// bx_val_ndc: the NDC validators (card).
//
// The setup, bx_val_ndc_setup, is declared with the others in bx_val.h;
// bx_init calls it.  The processing requests call these validators through
// the session's slots.
#ifndef BRIX_VALIDATE_BX_VAL_NDC_H
#define BRIX_VALIDATE_BX_VAL_NDC_H

#include "validate/bx_val.h"

#ifdef __cplusplus
extern "C" {
#endif

// At most 99999.99 (no lower bound), and track 1 data, track 2 data or a
// card number with a well-formed expiry date.
int bx_val_ndc_auth(bx_session vsess, bx_xaction vxact);
// bx_val_ndc_auth, an amount above zero, an authorisation code, not reversed.
int bx_val_ndc_sale(bx_session vsess, bx_xaction vxact);
// bx_val_ndc_auth and an amount above zero.
int bx_val_ndc_return(bx_session vsess, bx_xaction vxact);

#ifdef __cplusplus
}
#endif

#endif
