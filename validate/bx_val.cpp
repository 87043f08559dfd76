// bx_val: the common validators, the check steps the protocols' validators
// are made of, the installation of a protocol's setup row and the table of
// protocol names.
//
// bx_init calls a setup through bx_val_protocol_named; the processing
// requests (api/) call the validators through the session's slots.  Each
// protocol file lists its checks as steps in its own order with its own
// messages; run() works them off.
//
// Failure policy: a validator refuses by returning 0 with its reason in
// the session's answer text; nothing is logged, nothing else fails.
#include "validate/bx_val.h"

#include <cstring>

#include "support/qor_util.h"
#include "validate/bx_abacheck.h"
#include "validate/bx_luhn.h"
#include "validate/bx_util_issuer.h"

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

namespace brix::val {

namespace {

bool is_white(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool route_passes(bx_session s, bx_xaction x, const Route &route) {
    for (bx_validator check : route.checks)
        if (check && !check(s, x)) return false;
    return true;
}

// A cheque is identified by its MICR line (whose routing number must then
// pass the ABA test; a bad one refuses at once with that test's message)
// or by the writer's driver's licence.  Answers whether one was found, and
// *refused when the ABA test already refused.
bool identified(bx_session s, bx_xaction x, bool *refused) {
    int found = 0;
    if (x->acc.check.troutnum[0] && x->acc.check.bankaccnum[0]) {
        if (!bx_val_abacheck(s, x)) {
            *refused = true;
            return false;
        }
        found++;
    }
    if (x->subtype.format == BX_FORMAT_CHECK && x->data.check.dvsflag) found++;
    return found > 0;
}

enum class Outcome { go_on, refuse, refused, accept };

// What one step makes of the transaction.  `refuse` means the step's own
// message is to be written; `refused` that a called validator has written
// its own already.
Outcome apply(bx_session s, bx_xaction x, const Step &step) {
    bool found = false;
    switch (step.test) {
    case Test::call:
        return step.call(s, x) ? Outcome::go_on : Outcome::refused;
    case Test::any_of:
        for (size_t i = 0; i < step.nroutes; i++) {
            if (route_passes(s, x, step.routes[i])) {
                // A route tried before may have left its reason behind.
                s->apitext[0] = '\0';
                return Outcome::go_on;
            }
        }
        return step.message ? Outcome::refuse : Outcome::refused;
    case Test::int_is: found = step.number(*x) == step.value; break;
    case Test::int_is_not: found = step.number(*x) != step.value; break;
    case Test::int_above: found = step.number(*x) > step.value; break;
    case Test::int_at_most: found = step.number(*x) <= step.value; break;
    case Test::text_empty: found = step.text(*x)[0] == '\0'; break;
    case Test::text_blank: {
        found = true;
        for (const char *p = step.text(*x); *p && found; p++) found = is_white(*p);
        break;
    }
    case Test::text_has:
        found = strchr(step.text(*x), static_cast<char>(step.value)) != nullptr;
        break;
    case Test::both_present: found = step.text(*x)[0] && step.other(*x)[0]; break;
    case Test::either_empty: found = !step.text(*x)[0] || !step.other(*x)[0]; break;
    case Test::industry_not:
        found = static_cast<unsigned char>(s->industry[0]) != step.value;
        break;
    case Test::transtype_shorter:
        found = strlen(s->transtype) < static_cast<size_t>(step.value);
        break;
    case Test::issuer_not: found = bx_util_issuer(x->acc.card.num) != step.value; break;
    case Test::issuer_unknown: {
        // Only a range the table knows (Visa ... Carte Blanche) passes; a
        // classifier that could not work gives no range either.
        int issuer = bx_util_issuer(x->acc.card.num);
        found = issuer <= BX_ISSUER_BAD || issuer >= BX_ISSUER_UNKNOWN;
        break;
    }
    case Test::no_identification: {
        bool refused = false;
        found = !identified(s, x, &refused);
        if (refused) return Outcome::refused;
        break;
    }
    }
    if (!found) return Outcome::go_on;
    return step.accepts ? Outcome::accept : Outcome::refuse;
}

}  // namespace

int run(bx_session s, bx_xaction x, std::span<const Step> steps) {
    if (!s || !x) return 0;
    s->apitext[0] = '\0';
    for (const Step &step : steps) {
        switch (apply(s, x, step)) {
        case Outcome::go_on: break;
        case Outcome::accept: return 1;
        case Outcome::refuse: qor_field_set(s->apitext, step.message); return 0;
        case Outcome::refused: return 0;
        }
    }
    return 1;
}

void install(bx_session s, const Setup &setup) {
    s->protocol = setup.protocol;
    s->dbtype = setup.dbtype;
    bx_validator _val::*const slots[] = {&_val::bx_auth, &_val::bx_reverse, &_val::bx_sale,
                                         &_val::bx_return, &_val::bx_void};
    for (bx_validator _val::*slot : slots)
        if (setup.slots.*slot) s->val.*slot = setup.slots.*slot;
}

}  // namespace brix::val

namespace {

using namespace brix::val;

// A present field passes; an empty one refuses with the message (the
// answer text is left alone on a pass).
int require(bx_session s, bx_xaction x, TextField field, const char *message) {
    if (!s || !x) return 0;
    if (field(*x)[0]) return 1;
    qor_field_set(s->apitext, message);
    return 0;
}

// Clears the answer text; a passing test leaves it empty.
int clear_and_test(bx_session s, bx_xaction x, bool (*test)(const _bx_xaction &),
                   const char *message) {
    if (!s || !x) return 0;
    s->apitext[0] = '\0';
    if (test(*x)) return 1;
    qor_field_set(s->apitext, message);
    return 0;
}

constexpr Step kCcard[] = {
    call(bx_val_cardnum),
    call(bx_val_expdate),
    amount_not_positive(kAmountMoreThanZero),
};

constexpr Step kCcsale[] = {
    call(bx_val_ccard),
    code_not(BX_CODE_SALE, "text {only valid after auth}"),
};

bool digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

extern "C" {

int bx_val_cardnum(bx_session s, bx_xaction x) {
    return require(s, x, card_num, "text {no card number}");
}

int bx_val_track1(bx_session s, bx_xaction x) {
    return require(s, x, track1, "text {no track1 data}");
}

int bx_val_track2(bx_session s, bx_xaction x) {
    return require(s, x, track2, "text {no track2 data}");
}

int bx_val_expdate(bx_session s, bx_xaction x) {
    if (!s || !x) return 0;
    s->apitext[0] = '\0';
    // MMYY; the walk stops at the first non-digit, so a short text fails
    // at its terminator and nothing past it is read.
    const char *d = x->acc.card.edate;
    for (int i = 0; i < 4; i++) {
        if (!digit(d[i])) {
            qor_field_set(s->apitext, "text {invalid expiration date}");
            return 0;
        }
    }
    int month = (d[0] - '0') * 10 + (d[1] - '0');
    if (month < 1 || month > 12) {
        qor_field_set(s->apitext, "text {invalid expiration date (month)}");
        return 0;
    }
    return 1;
}

int bx_val_luhn(bx_session s, bx_xaction x) {
    return clear_and_test(
        s, x, [](const _bx_xaction &t) { return bx_luhn(t.acc.card.num) != 0; },
        "text {invalid card number (by LUHN test)}");
}

int bx_val_abacheck(bx_session s, bx_xaction x) {
    return clear_and_test(
        s, x, [](const _bx_xaction &t) { return bx_abacheck(t.acc.check.troutnum) != 0; },
        "text {invalid troutnum number (by ABA test)}");
}

int bx_val_ccard(bx_session s, bx_xaction x) { return run(s, x, kCcard); }

int bx_val_ccsale(bx_session s, bx_xaction x) { return run(s, x, kCcsale); }

int bx_val_always(bx_session, bx_xaction) { return 1; }

int bx_val_never(bx_session vsess, bx_xaction) {
    if (vsess) qor_field_set(vsess->apitext, "text {invalid operation for this protocol}");
    return 0;
}

}  // extern "C"
