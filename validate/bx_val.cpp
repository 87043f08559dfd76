// bx_val: the default validator and the clearing-protocol setups.
//
// Each setup records the protocol's number (read by the state-code table
// of cheque transactions) and the kind of record bx_new creates.  The
// protocol validators and command handlers are not installed yet, so every
// slot keeps the defaults bx_init put there.  Nothing here fails.
#include "validate/bx_val.h"

#include "commands/bx_cmd_nash.h"
#include "commands/bx_cmd_rbank.h"
#include "commands/bx_cmd_utf.h"
#include "support/qor_util.h"
#include "xaction/bx_xaction.h"

namespace {

void set_protocol(bx_session s, int protocol, int dbtype) {
    s->protocol = protocol;
    s->dbtype = dbtype;
}

}  // namespace

const bx_val_protocol bx_val_protocols[17] = {
    {"ETC+", bx_val_etc_setup},         {"MAPP", bx_val_mapp_setup},
    {"NDC", bx_val_ndc_setup},          {"VITAL", bx_val_vital_setup},
    {"RBank", bx_val_rbank_setup},      {"UTF", bx_val_utf_setup},
    {"NOVA", bx_val_nova_setup},        {"NOVA-TCP", bx_val_nova_setup},
    {"SouthP", bx_val_southp_setup},    {"Nashville", bx_val_nash_setup},
    {"SCAN", bx_val_scan_setup},        {"TeleCheck", bx_val_telecheck_setup},
    {"SWACH", bx_val_swach_setup},      {"dialdemo", bx_val_dialdemo_setup},
    {"demo", bx_val_demo_setup},        {"demc", bx_val_demc_setup},
    {"foo", bx_val_demo_setup},
};

const bx_val_protocol *bx_val_protocol_named(const char *name) {
    if (!name) return nullptr;
    for (const bx_val_protocol &p : bx_val_protocols)
        if (qor_util_strcasecmp(name, p.name) == 0) return &p;
    return nullptr;
}

extern "C" {

int bx_val_never(bx_session vsess, bx_xaction) {
    qor_field_set(vsess->apitext, "text {invalid operation for this protocol}");
    return 0;
}

void bx_val_etc_setup(bx_session s) { set_protocol(s, BX_PROTO_ETC, BX_DBTYPE_CARD); }
void bx_val_mapp_setup(bx_session s) { set_protocol(s, BX_PROTO_MAPP, BX_DBTYPE_CARD); }
void bx_val_ndc_setup(bx_session s) { set_protocol(s, BX_PROTO_NDC, BX_DBTYPE_CARD); }
void bx_val_vital_setup(bx_session s) { set_protocol(s, BX_PROTO_VITAL, BX_DBTYPE_CARD); }
void bx_val_rbank_setup(bx_session s) {
    set_protocol(s, BX_PROTO_RBANK, BX_DBTYPE_CARD);
    bx_cmd_rbank_install(s);
}
void bx_val_utf_setup(bx_session s) {
    set_protocol(s, BX_PROTO_UTF, BX_DBTYPE_CARD);
    bx_cmd_utf_install(s);
}
void bx_val_nova_setup(bx_session s) { set_protocol(s, BX_PROTO_NOVA, BX_DBTYPE_CARD); }
void bx_val_southp_setup(bx_session s) { set_protocol(s, BX_PROTO_SOUTHP, BX_DBTYPE_CARD); }
void bx_val_nash_setup(bx_session s) {
    set_protocol(s, BX_PROTO_NASH, BX_DBTYPE_CARD);
    bx_cmd_nash_install(s);
}
void bx_val_scan_setup(bx_session s) { set_protocol(s, BX_PROTO_SCAN, BX_DBTYPE_CHECK); }
void bx_val_telecheck_setup(bx_session s) { set_protocol(s, BX_PROTO_TELECHECK, BX_DBTYPE_CHECK); }
void bx_val_swach_setup(bx_session s) { set_protocol(s, BX_PROTO_SWACH, BX_DBTYPE_ACH); }
void bx_val_dialdemo_setup(bx_session s) { set_protocol(s, BX_PROTO_DIALDEMO, BX_DBTYPE_CARD); }
void bx_val_demo_setup(bx_session s) { set_protocol(s, BX_PROTO_DEMO, BX_DBTYPE_CARD); }
void bx_val_demc_setup(bx_session s) { set_protocol(s, BX_PROTO_DEMO, BX_DBTYPE_CHECK); }

}  // extern "C"
