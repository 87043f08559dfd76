// bx_val_nova: the NOVA and NOVA-TCP validators (card).
//
// The setup, bx_val_nova_setup, is declared with the others in bx_val.h;
// bx_init calls it.  The processing requests call these validators through
// the session's slots.
#ifndef BRIX_VALIDATE_BX_VAL_NOVA_H
#define BRIX_VALIDATE_BX_VAL_NOVA_H

#include "validate/bx_val.h"

#ifdef __cplusplus
extern "C" {
#endif

// Amount not zero, card number and expiry present.
int bx_val_nova_ccard(bx_session vsess, bx_xaction vxact);
// The card check alone.
int bx_val_nova(bx_session vsess, bx_xaction vxact);
// bx_val_nova and an authorisation code.
int bx_val_nova_sale(bx_session vsess, bx_xaction vxact);

#ifdef __cplusplus
}
#endif

#endif
