// bx_api_init: bx_init and bx_done.
//
// bx_init loads the merchant configuration, switches the effective user to
// the configured service user, builds the session (queues included),
// settles what crashed processes left unfinished in the spool's journal,
// installs the default validators and command handler and runs the setup
// of the configured clearing protocol.
//
// A configuration name is a plain file name: no '/', no leading '.', not
// empty, no control characters.  Anything else is refused before a file is
// looked for, so that a script's name cannot reach a configuration
// outside the configuration directories, or put raw control characters
// into the log identity and log lines.
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
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "commands/bx_command.h"
#include "queue/bx_spool.h"
#include "support/qor_log.h"
#include "support/qor_util.h"
#include "validate/bx_val.h"

namespace {

constexpr const char *kRelease = "3.3 2000/03/27";

// The process-wide logging identity "BRIX(<configuration name>)".
char g_ident[256];

// Logs a NonFatal error and keeps the same text (or `initerror` when
// given) as the reason for the failure.
// Returns null, the failed bx_init's answer.
std::nullptr_t fail(const char *initerror, const char *format, ...)
    __attribute__((format(printf, 2, 3)));
std::nullptr_t fail(const char *initerror, const char *format, ...) {
    char text[1024];
    va_list ap;
    va_start(ap, format);
    vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    qor_log(QOR_LOG_NONFATAL, text);
    snprintf(bx_initerror, sizeof bx_initerror, "%s", initerror ? initerror : text);
    return nullptr;
}

using Value = brix::ConfigValue;

// A name that names a file in a configuration directory and nothing else.
bool plain_name(std::string_view name) {
    if (name.empty() || name.front() == '.') return false;
    for (unsigned char c : name)
        if (c == '/' || brix::is_control(c)) return false;
    return true;
}

void restore_real_user() {
    if (seteuid(getuid()) != 0) qor_log_err(QOR_LOG_WARNING, "Can't switch back to the real user");
}

// A loaded configuration, released unless handed on.
struct ConfigRelease {
    void operator()(_bx_config_config_data *c) const { bx_config_destroy_config(c); }
};
using ConfigHandle = std::unique_ptr<_bx_config_config_data, ConfigRelease>;

// The switch to the service user, undone unless the session opens.
class ServiceUser {
public:
    ServiceUser() = default;
    ~ServiceUser() {
        if (switched_) restore_real_user();
    }
    ServiceUser(const ServiceUser &) = delete;
    ServiceUser &operator=(const ServiceUser &) = delete;
    // Switches the effective user; false when the switch did not take.
    bool switch_to(uid_t uid) {
        switched_ = true;
        return seteuid(uid) == 0 && geteuid() == uid;
    }
    void keep() { switched_ = false; }

private:
    bool switched_ = false;
};

// A built session, destroyed unless handed on.
struct SessionRelease {
    void operator()(_bx_session *s) const { bx_session_destroy(s); }
};
using SessionHandle = std::unique_ptr<_bx_session, SessionRelease>;

}  // namespace

extern "C" {

bx_session bx_init(const char *name) {
    if (!name) name = "";
    // The identity and every path derived from the name must fit their
    // buffers; a name that does not is refused rather than cut into the
    // name of some other configuration.
    if (strlen(name) + sizeof "BRIX()" > sizeof g_ident)
        return fail("Configuration name is too long.",
                    "Configuration name is too long (%zu characters)", strlen(name));
    if (!plain_name(name)) {
        char why[sizeof bx_initerror];
        try {
            std::string shown = brix::printable(name);
            snprintf(why, sizeof why, "Configuration name '%s' is not a plain name.", shown.c_str());
            return fail(why, "Configuration name '%s' is not a plain name", shown.c_str());
        } catch (const std::bad_alloc &) {
            return fail("Configuration name is not a plain name.",
                        "Configuration name is not a plain name");
        }
    }
    snprintf(g_ident, sizeof g_ident, "BRIX(%s)", name);
    qor_log_ident = g_ident;

    ConfigHandle config(bx_config_init(name));
    if (!config) {
        char why[1024];
        snprintf(why, sizeof why, "Unable to read in configuration '%s'.", name);
        return fail(why, "Unable to read in configuration '%s'", name);
    }

    ServiceUser user;
    {
        Value uname(config.get(), BX_CFG_UNAME);
        if (!uname) return fail(nullptr, "Unable to read BRIX user from config file.");
        struct passwd pwbuf, *pw = nullptr;
        char buf[4096];
        if (getpwnam_r(uname.text, &pwbuf, buf, sizeof buf, &pw) != 0 || !pw)
            return fail(nullptr, "Unable to look up UID for BRIX user %s.", uname.text);
        if (!user.switch_to(pw->pw_uid))
            return fail(nullptr, "Not running as BRIX user '%s'.", pw->pw_name);
    }

    // From here the session owns the configuration.
    SessionHandle s(bx_session_create(config.get()));
    if (!s) return nullptr;
    config.release();
    // What a crashed process left half done is settled before the session
    // looks at any queue.  A record that cannot be settled now stays (and
    // was logged); the queues are usable all the same.
    bx_spool_recover(bx_session_spool(s.get()));

    _val &v = s->val;
    v.bx_auth = v.bx_reverse = v.bx_sale = v.bx_return = v.bx_void = bx_val_never;

    Value protocol(s->config_context, BX_CFG_CLEARINGPROTOCOL);
    if (!protocol) return fail(nullptr, "Couldn't determine clearing house protocol.");
    s->commandhandler = bx_cmd_defaulthandler;
    if (const bx_val_protocol *p = bx_val_protocol_named(protocol.text)) p->setup(s.get());

    snprintf(s->apitext, sizeof s->apitext, "release {%s}", kRelease);
    user.keep();
    return s.release();
}

void bx_done(bx_session session) {
    if (!session) return;
    bx_session_destroy(session);
    restore_real_user();
}

}  // extern "C"
