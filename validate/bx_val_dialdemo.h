// bx_val_dialdemo: the validators of the dial-up demonstration protocol (card).
//
// The setup, bx_val_dialdemo_setup, is declared with the others in bx_val.h;
// bx_init calls it.  The processing requests call these validators through
// the session's slots.
#ifndef BRIX_VALIDATE_BX_VAL_DIALDEMO_H
#define BRIX_VALIDATE_BX_VAL_DIALDEMO_H

#include "validate/bx_val.h"

#ifdef __cplusplus
extern "C" {
#endif

// bx_val_ccard, an authorisation code, not reversed.
int bx_val_dialdemo_sale(bx_session vsess, bx_xaction vxact);

#ifdef __cplusplus
}
#endif

#endif
