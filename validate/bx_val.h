// bx_val: request validators and the clearing-protocol setups.
//
// A validator takes the session and the unpacked transaction and answers
// nonzero when the request may go on; on refusal it leaves its reason in
// the session's answer text.  bx_init installs bx_val_never in every slot
// and then calls the setup of the configured clearing protocol, which
// records the protocol number and the kind of record bx_new creates.
#ifndef BRIX_VALIDATE_BX_VAL_H
#define BRIX_VALIDATE_BX_VAL_H

#include "session/bx_session.h"

#ifdef __cplusplus
extern "C" {
#endif

// Default validator: refuses with "text {invalid operation for this protocol}".
int bx_val_never(bx_session vsess, bx_xaction vxact);

void bx_val_etc_setup(bx_session s);
void bx_val_mapp_setup(bx_session s);
void bx_val_ndc_setup(bx_session s);
void bx_val_vital_setup(bx_session s);
void bx_val_rbank_setup(bx_session s);
void bx_val_utf_setup(bx_session s);
void bx_val_nova_setup(bx_session s);
void bx_val_southp_setup(bx_session s);
void bx_val_nash_setup(bx_session s);
void bx_val_scan_setup(bx_session s);
void bx_val_telecheck_setup(bx_session s);
void bx_val_swach_setup(bx_session s);
void bx_val_dialdemo_setup(bx_session s);
void bx_val_demo_setup(bx_session s);
void bx_val_demc_setup(bx_session s);

#ifdef __cplusplus
}
#endif

#endif
