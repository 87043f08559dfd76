// bx_val_rbank: the Royal Bank validators (card).
//
// The setup, bx_val_rbank_setup, is declared with the others in bx_val.h;
// bx_init calls it.  The processing requests call these validators through
// the session's slots.
#ifndef BRIX_VALIDATE_BX_VAL_RBANK_H
#define BRIX_VALIDATE_BX_VAL_RBANK_H

#include "validate/bx_val.h"

#ifdef __cplusplus
extern "C" {
#endif

// Amount not zero; track 2 data, or a card number and an expiry (their
// form is the processor's business).
int bx_val_rbank_ccard(bx_session vsess, bx_xaction vxact);
// The card check, at most 9999999.99, a product name and the customer's
// account name (every request, void included).
int bx_val_rbank(bx_session vsess, bx_xaction vxact);
// bx_val_rbank and an authorisation code.
int bx_val_rbank_sale(bx_session vsess, bx_xaction vxact);
// bx_val_rbank, a transaction that was submitted, and a return: only a
// processed return can be voided.
int bx_val_rbank_void(bx_session vsess, bx_xaction vxact);

#ifdef __cplusplus
}
#endif

#endif
