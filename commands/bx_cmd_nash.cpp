// bx_cmd_nash: the Nashville command "phonenum" shows or changes the
// primary and secondary numbers that the daemon dials, kept in the
// "PHONENUM" state record.  The Nashville setup chains it in front of the
// handler it found (bx_cmd_nash_install).
//
// The record is read afresh before every change; the read-modify-write is
// not atomic across processes (the record store locks the globals queue
// around each read and write only).
//
// Failure policy: a number without digits is refused and not logged; an
// unopened globals queue or a record that cannot be stored is answered
// with BX_FAILED (the store logs why).
#include "commands/bx_cmd_nash.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "commands/bx_command.h"
#include "commands/bx_dll.h"
#include "session/bx_config.h"
#include "support/qor_util.h"

namespace {

// At most 32 characters of a number are kept.
template <size_t N>
void set_number(char (&field)[N], std::string_view v) {
    size_t n = std::min(v.size(), N - 1);
    memcpy(field, v.data(), n);
    memset(field + n, 0, N - n);
}

// Sets the numbers the argument names, leaving the other as read, and
// answers with what was set.
void set_numbers(bx_session s, std::string_view arg) {
    _dll_phonenum &p = s->dll.phonenum;
    size_t comma = arg.find(',');
    if (comma == 0) {
        set_number(p.secondary, arg.substr(1));
        bx_appendf(s, "text {set secondary to %s}", p.secondary);
    } else if (comma == std::string_view::npos || comma + 1 == arg.size()) {
        set_number(p.primary, arg.substr(0, comma));
        bx_appendf(s, "text {set primary to %s}", p.primary);
    } else {
        set_number(p.primary, arg.substr(0, comma));
        set_number(p.secondary, arg.substr(comma + 1));
        bx_appendf(s, "text {set primary to %s, secondary to %s}", p.primary, p.secondary);
    }
}

int phonenum(bx_session s, const char *argval) {
    s->apitext[0] = '\0';
    _dll_phonenum &p = s->dll.phonenum;
    p.valid = 0;
    p.primary[0] = p.secondary[0] = '\0';
    if (!bx_dll_sync(s, bx_dll_key::phonenum)) {
        bx_settext(s, "text {unable to read phone numbers}");
        return BX_FAILED;
    }
    if (!argval) {
        // A number not set is dialled as configured.
        brix::ConfigValue configured(s->config_context, BX_CFG_PHONENUMBER);
        const char *fallback = configured ? configured.text : "";
        bx_appendf(s, "text {primary %s, secondary %s}", p.primary[0] ? p.primary : fallback,
                   p.secondary[0] ? p.secondary : fallback);
        return BX_OK;
    }
    if (qor_util_strcasecmp(argval, "reset") == 0) {
        p.primary[0] = p.secondary[0] = '\0';
        bx_settext(s, "text {reset phone numbers to configured defaults}");
    } else if (no_digits(argval)) {
        bx_settext(s, "text {invalid phone number -- no digits}");
        return BX_SYNTAX;
    } else {
        set_numbers(s, argval);
    }
    p.valid = 2;
    if (!bx_dll_sync(s, bx_dll_key::phonenum)) {
        bx_settext(s, "text {unable to store phone numbers}");
        return BX_FAILED;
    }
    return BX_OK;
}

}  // namespace

extern "C" {

int bx_cmd_nash_phonenum(bx_session s, int cmd, const char *argval) {
    if (!s) return BX_UNINIT;
    if (cmd != BX_CMD_PHONENUM) return bx_cmd_pass(s, &_dll::phonenumhandlerslot, cmd, argval);
    return phonenum(s, argval);
}

int no_digits(const char *text) {
    for (; text && *text; text++)
        if (*text >= '0' && *text <= '9') return 0;
    return 1;
}

void bx_cmd_nash_install(bx_session s) {
    bx_cmd_chain(s, bx_cmd_nash_phonenum, &_dll::phonenumhandlerslot);
}

}  // extern "C"
