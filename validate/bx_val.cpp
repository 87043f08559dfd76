// bx_val: the default validator and the clearing-protocol setups.
//
// Each setup records the protocol's number (read by the state-code table
// of cheque transactions) and the kind of record bx_new creates.  The
// protocol validators and command handlers are not installed yet, so every
// slot keeps the defaults bx_init put there.  Nothing here fails.
#include "validate/bx_val.h"

#include "support/qor_util.h"

namespace {

enum { KIND_CARD = 1, KIND_CHECK = 2, KIND_ACH = 3 };

void set_protocol(bx_session s, int protocol, int dbtype) {
    s->protocol = protocol;
    s->dbtype = dbtype;
}

}  // namespace

extern "C" {

int bx_val_never(bx_session vsess, bx_xaction) {
    qor_field_set(vsess->apitext, "text {invalid operation for this protocol}");
    return 0;
}

void bx_val_etc_setup(bx_session s) { set_protocol(s, 1, KIND_CARD); }
void bx_val_mapp_setup(bx_session s) { set_protocol(s, 2, KIND_CARD); }
void bx_val_ndc_setup(bx_session s) { set_protocol(s, 13, KIND_CARD); }
void bx_val_vital_setup(bx_session s) { set_protocol(s, 6, KIND_CARD); }
void bx_val_rbank_setup(bx_session s) { set_protocol(s, 8, KIND_CARD); }
void bx_val_utf_setup(bx_session s) { set_protocol(s, 9, KIND_CARD); }
void bx_val_nova_setup(bx_session s) { set_protocol(s, 12, KIND_CARD); }
void bx_val_southp_setup(bx_session s) { set_protocol(s, 15, KIND_CARD); }
void bx_val_nash_setup(bx_session s) { set_protocol(s, 17, KIND_CARD); }
void bx_val_scan_setup(bx_session s) { set_protocol(s, 3, KIND_CHECK); }
void bx_val_telecheck_setup(bx_session s) { set_protocol(s, 4, KIND_CHECK); }
void bx_val_swach_setup(bx_session s) { set_protocol(s, 7, KIND_ACH); }
void bx_val_dialdemo_setup(bx_session s) { set_protocol(s, 18, KIND_CARD); }
void bx_val_demo_setup(bx_session s) { set_protocol(s, 5, KIND_CARD); }
void bx_val_demc_setup(bx_session s) { set_protocol(s, 5, KIND_CHECK); }

}  // extern "C"
