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

// Clearing-protocol numbers (the session's protocol field), as the setups
// record them.  The demonstration protocols share one number.
enum {
    BX_PROTO_ETC = 1,
    BX_PROTO_MAPP = 2,
    BX_PROTO_SCAN = 3,
    BX_PROTO_TELECHECK = 4,
    BX_PROTO_DEMO = 5,
    BX_PROTO_VITAL = 6,
    BX_PROTO_SWACH = 7,
    BX_PROTO_RBANK = 8,
    BX_PROTO_UTF = 9,
    BX_PROTO_NOVA = 12,
    BX_PROTO_NDC = 13,
    BX_PROTO_SOUTHP = 15,
    BX_PROTO_NASH = 17,
    BX_PROTO_DIALDEMO = 18
};

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

// The protocol names of the configuration's ClearingProtocol, in the order
// they are compared (without regard to case), each with its setup.
struct bx_val_protocol {
    const char *name;
    void (*setup)(bx_session);
};
extern const bx_val_protocol bx_val_protocols[17];
// The setup of a protocol name, or null when the name matches none.
const bx_val_protocol *bx_val_protocol_named(const char *name);
#endif

#endif
