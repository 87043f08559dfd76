// bx_val_swach: the SWACH validator (ACH debits, sale only).
//
// The setup, bx_val_swach_setup, is declared with the others in bx_val.h;
// bx_init calls it.  The processing requests call these validators through
// the session's slots.
#ifndef BRIX_VALIDATE_BX_VAL_SWACH_H
#define BRIX_VALIDATE_BX_VAL_SWACH_H

#include "validate/bx_val.h"

#ifdef __cplusplus
extern "C" {
#endif

// The merchant's transaction code, an amount from 0.01 to 999999.99, a
// routing number, account number, account name and type, a name without
// commas or double quotes, and a routing number that passes the ABA test.
int bx_val_swach(bx_session vsess, bx_xaction vxact);

#ifdef __cplusplus
}
#endif

#endif
