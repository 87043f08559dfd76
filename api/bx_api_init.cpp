// bx_api_init: bx_init and bx_done.
//
// bx_init loads the merchant configuration, switches the effective user to
// the configured service user, builds the session (queues included),
// installs the default validators and command handler and runs the setup
// of the configured clearing protocol.
//
// Failure policy: every failure is logged and leaves its reason in
// bx_initerror (except a failed session build, which logs its own reason);
// bx_init then returns null, having released what it built and switched
// the effective user back to the real one.
#include "api/bx_api_init.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "commands/bx_command.h"
#include "support/qor_log.h"
#include "support/qor_util.h"
#include "validate/bx_val.h"

namespace {

constexpr const char *kRelease = "3.3 2000/03/27";

// The process-wide logging identity "BRIX(<configuration name>)".
char g_ident[256];

// Logs a NonFatal error and keeps the same text (or `initerror` when
// given) as the reason for the failure.
void fail(const char *initerror, const char *format, ...) __attribute__((format(printf, 2, 3)));
void fail(const char *initerror, const char *format, ...) {
    char text[1024];
    va_list ap;
    va_start(ap, format);
    vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    qor_log(QOR_LOG_NONFATAL, text);
    snprintf(bx_initerror, sizeof bx_initerror, "%s", initerror ? initerror : text);
}

struct Protocol {
    const char *name;         // compared without regard to case
    void (*setup)(bx_session);
};

const Protocol kProtocols[] = {
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

using Value = brix::ConfigValue;

void restore_real_user() {
    if (seteuid(getuid()) != 0) qor_log_err(QOR_LOG_WARNING, "Can't switch back to the real user");
}

}  // namespace

extern "C" {

bx_session bx_init(const char *name) {
    if (!name) name = "";
    // The identity and every path derived from the name must fit their
    // buffers; a name that does not is refused rather than cut into the
    // name of some other configuration.
    if (strlen(name) + sizeof "BRIX()" > sizeof g_ident) {
        fail("Configuration name is too long.", "Configuration name is too long (%zu characters)",
             strlen(name));
        return nullptr;
    }
    snprintf(g_ident, sizeof g_ident, "BRIX(%s)", name);
    qor_log_ident = g_ident;

    bx_config_config_data config = bx_config_init(name);
    if (!config) {
        char why[1024];
        snprintf(why, sizeof why, "Unable to read in configuration '%s'.", name);
        fail(why, "Unable to read in configuration '%s'", name);
        return nullptr;
    }

    uid_t uid;
    {
        Value user(config, BX_CFG_UNAME);
        if (!user.text) {
            fail(nullptr, "Unable to read BRIX user from config file.");
            bx_config_destroy_config(config);
            return nullptr;
        }
        struct passwd pwbuf, *pw = nullptr;
        char buf[4096];
        if (getpwnam_r(user.text, &pwbuf, buf, sizeof buf, &pw) != 0 || !pw) {
            fail(nullptr, "Unable to look up UID for BRIX user %s.", user.text);
            bx_config_destroy_config(config);
            return nullptr;
        }
        uid = pw->pw_uid;
        if (seteuid(uid) != 0 || geteuid() != uid) {
            fail(nullptr, "Not running as BRIX user '%s'.", pw->pw_name);
            restore_real_user();
            bx_config_destroy_config(config);
            return nullptr;
        }
    }

    bx_session s = bx_session_create(config);
    if (!s) {
        bx_config_destroy_config(config);
        restore_real_user();
        return nullptr;
    }

    struct _val &v = s->val;
    v.bx_auth = v.bx_reverse = v.bx_sale = v.bx_return = v.bx_void = bx_val_never;

    Value protocol(config, BX_CFG_CLEARINGPROTOCOL);
    if (!protocol.text) {
        fail(nullptr, "Couldn't determine clearing house protocol.");
        bx_session_destroy(s);
        restore_real_user();
        return nullptr;
    }
    s->commandhandler = bx_cmd_defaulthandler;
    for (const Protocol &p : kProtocols) {
        if (qor_util_strcasecmp(protocol.text, p.name) == 0) {
            p.setup(s);
            break;
        }
    }

    snprintf(s->apitext, sizeof s->apitext, "release {%s}", kRelease);
    return s;
}

void bx_done(bx_session session) {
    if (!session) return;
    bx_session_destroy(session);
    restore_real_user();
}

}  // extern "C"
