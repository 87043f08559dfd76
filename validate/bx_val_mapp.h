// bx_val_mapp: the MAPP validators (card).
//
// The setup, bx_val_mapp_setup, is declared with the others in bx_val.h;
// bx_init calls it.  The processing requests call these validators through
// the session's slots.
#ifndef BRIX_VALIDATE_BX_VAL_MAPP_H
#define BRIX_VALIDATE_BX_VAL_MAPP_H

#include "validate/bx_val.h"

#ifdef __cplusplus
extern "C" {
#endif

// An amount from 0.01 to 99999.99, and track 2 data or a card number with
// a well-formed expiry date.
int bx_val_mapp(bx_session vsess, bx_xaction vxact);
// bx_val_mapp, and an authorisation code.
int bx_val_mappsale(bx_session vsess, bx_xaction vxact);

#ifdef __cplusplus
}
#endif

#endif
