// bx_val_etc: the ETC+ validator (card).
//
// The setup, bx_val_etc_setup, is declared with the others in bx_val.h;
// bx_init calls it.  The processing requests call these validators through
// the session's slots.
#ifndef BRIX_VALIDATE_BX_VAL_ETC_H
#define BRIX_VALIDATE_BX_VAL_ETC_H

#include "validate/bx_val.h"

#ifdef __cplusplus
extern "C" {
#endif

// The common card check, and at most 999999.99.
int bx_val_etc(bx_session vsess, bx_xaction vxact);

#ifdef __cplusplus
}
#endif

#endif
