// bx_val_scan: the SCAN validator (cheque guarantee, authorisation only).
//
// The setup, bx_val_scan_setup, is declared with the others in bx_val.h;
// bx_init calls it.  The processing requests call these validators through
// the session's slots.
#ifndef BRIX_VALIDATE_BX_VAL_SCAN_H
#define BRIX_VALIDATE_BX_VAL_SCAN_H

#include "validate/bx_val.h"

#ifdef __cplusplus
extern "C" {
#endif

// Cheque number, an amount from 0.01 to 99999.99, MICR data whose routing
// number passes the ABA test.
int bx_val_scan(bx_session vsess, bx_xaction vxact);

#ifdef __cplusplus
}
#endif

#endif
