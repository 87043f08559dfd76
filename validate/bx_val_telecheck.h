// bx_val_telecheck: the TeleCheck validator (cheque guarantee, authorisation only).
//
// The setup, bx_val_telecheck_setup, is declared with the others in bx_val.h;
// bx_init calls it.  The processing requests call these validators through
// the session's slots.
#ifndef BRIX_VALIDATE_BX_VAL_TELECHECK_H
#define BRIX_VALIDATE_BX_VAL_TELECHECK_H

#include "validate/bx_val.h"

#ifdef __cplusplus
extern "C" {
#endif

// Cheque number, an amount from 0.01 to 999999.99, and MICR data (with a
// routing number that passes the ABA test) or a driver's licence.
int bx_val_telecheck(bx_session vsess, bx_xaction vxact);

#ifdef __cplusplus
}
#endif

#endif
