// bx_val_demc: the validator of the cheque demonstration protocol.
//
// The setup, bx_val_demc_setup, is declared with the others in bx_val.h;
// bx_init calls it.  The processing requests call these validators through
// the session's slots.
#ifndef BRIX_VALIDATE_BX_VAL_DEMC_H
#define BRIX_VALIDATE_BX_VAL_DEMC_H

#include "validate/bx_val.h"

#ifdef __cplusplus
extern "C" {
#endif

// Cheque number, an amount above zero (no upper limit), and MICR data
// (with a routing number that passes the ABA test) or a driver's licence.
int bx_val_dummycheck(bx_session vsess, bx_xaction vxact);

#ifdef __cplusplus
}
#endif

#endif
