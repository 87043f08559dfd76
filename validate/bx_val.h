// bx_val: request validators and the clearing-protocol setups.
//
// A validator takes the session and the unpacked transaction and answers
// nonzero when the request may go on; on refusal it leaves its reason, a
// complete answer text such as "text {no card number}", in the session's
// answer text.  A validator never changes the transaction.
//
// bx_init installs bx_val_never in every slot and then calls the setup of
// the configured clearing protocol, which records the protocol number and
// the kind of record bx_new creates and fills the slots of the requests
// the protocol supports.  The processing requests (api/) call the slots.
//
// This header holds the common validators that every protocol builds on,
// the setups, and (for C++) the check steps and setup rows from which the
// protocol files (bx_val_<protocol>) build their validators.
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

// Common validators.  Those marked "clears" empty the answer text before
// they test anything, so that a pass leaves it empty; the others leave an
// earlier text in place when they pass.  A missing session or transaction
// is refused without a text.
int bx_val_cardnum(bx_session vsess, bx_xaction vxact);  // card number present
int bx_val_track1(bx_session vsess, bx_xaction vxact);   // track 1 data present
int bx_val_track2(bx_session vsess, bx_xaction vxact);   // track 2 data present
// Clears; the expiry's first four characters are digits and the month
// (the first two) lies in 1..12.  The year is not examined: an expired
// card passes.
int bx_val_expdate(bx_session vsess, bx_xaction vxact);
int bx_val_luhn(bx_session vsess, bx_xaction vxact);     // clears; bx_luhn of the card number
int bx_val_abacheck(bx_session vsess, bx_xaction vxact); // clears; bx_abacheck of the routing number
// Clears; card number, then expiry, then an amount above zero.
int bx_val_ccard(bx_session vsess, bx_xaction vxact);
// bx_val_ccard, and the transaction must be a sale.
int bx_val_ccsale(bx_session vsess, bx_xaction vxact);
// Accepts everything and writes nothing.
int bx_val_always(bx_session vsess, bx_xaction vxact);
// Default validator: refuses with "text {invalid operation for this protocol}".
int bx_val_never(bx_session vsess, bx_xaction vxact);

// Setups, one per clearing protocol; each protocol's validators are
// declared in its own header (validate/bx_val_<protocol>.h).
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

#include <cstddef>
#include <span>

#include "xaction/bx_xaction.h"

// The protocol names of the configuration's ClearingProtocol, in the order
// they are compared (without regard to case), each with its setup.
struct bx_val_protocol {
    const char *name;
    void (*setup)(bx_session);
};
extern const bx_val_protocol bx_val_protocols[17];
// The setup of a protocol name, or null when the name matches none.
const bx_val_protocol *bx_val_protocol_named(const char *name);

namespace brix::val {

// ---- Setups -----------------------------------------------------------

// One protocol's row: its number, the kind of record bx_new creates, and
// the validators of the requests it supports.  A null slot keeps what the
// session holds (bx_val_never after bx_init); a protocol that wants a slot
// refused in so many words names bx_val_never.
struct Setup {
    int protocol;             // BX_PROTO_*
    int dbtype;               // BX_DBTYPE_*
    _val slots;               // auth, reverse, sale, return, void
};
void install(bx_session s, const Setup &setup);

// ---- Check steps ------------------------------------------------------

// Answer texts that several protocols give in the same words.
inline constexpr const char *kAmountMoreThanZero = "text {amount must be more than zero}";
inline constexpr const char *kAuthCodeRequired = "text {auth code required}";
inline constexpr const char *kSaleReversed = "text {you cannot sale a reversed transation}";
inline constexpr const char *kCardOrTrackRequired =
    "text {cardnum and expdate, or track data, are required}";
inline constexpr const char *kCheckNumMissing = "text {missing check sequence number}";
inline constexpr const char *kAmountMissing = "text {amount missing or zero}";

// The transaction fields that steps look at.
using TextField = const char *(*)(const _bx_xaction &);
inline const char *card_num(const _bx_xaction &x) { return x.acc.card.num; }
inline const char *card_edate(const _bx_xaction &x) { return x.acc.card.edate; }
inline const char *track1(const _bx_xaction &x) { return x.track1; }
inline const char *track2(const _bx_xaction &x) { return x.track2; }
inline const char *authcode(const _bx_xaction &x) { return x.authcode; }
inline const char *troutnum(const _bx_xaction &x) { return x.acc.check.troutnum; }
inline const char *bankaccnum(const _bx_xaction &x) { return x.acc.check.bankaccnum; }
inline const char *checknum(const _bx_xaction &x) { return x.acc.check.checknum; }
inline const char *accname(const _bx_xaction &x) { return x.acc.check.accname; }
inline const char *product(const _bx_xaction &x) { return x.acc.check.product; }

using IntField = int (*)(const _bx_xaction &);
inline int amount(const _bx_xaction &x) { return x.amount; }
inline int code(const _bx_xaction &x) { return x.subtype.code; }
inline int rtype(const _bx_xaction &x) { return x.rtype; }
inline int acctype(const _bx_xaction &x) { return x.acc.check.acctype; }

// One way of showing the card: validators that must all pass, in order
// (an unused place is null).
struct Route {
    bx_validator checks[2];
};

// What a step looks for.  A step that finds it refuses the transaction
// with the step's message, or, for a step that accepts, passes it at once.
enum class Test : unsigned char {
    call,              // the validator `call` refuses (its own message stands)
    any_of,            // no route passes; a passing route empties the answer text
    int_is,            // number == value
    int_is_not,        // number != value
    int_above,         // number > value
    int_at_most,       // number <= value
    text_empty,        // text is empty
    text_blank,        // text is empty or white space only
    text_has,          // text holds the character `value`
    both_present,      // text and other are both non-empty
    either_empty,      // text or other is empty
    industry_not,      // the merchant's industry code does not begin with `value`
    transtype_shorter, // the merchant's transaction code has fewer than `value` characters
    issuer_not,        // the card's issuer code is not `value`
    issuer_unknown,    // the card's digits lie in no known issuer range
    no_identification, // neither MICR data (routing number must pass ABA) nor licence
};

struct Step {
    Test test;
    const char *message = nullptr;  // complete answer text; null for `call`
    int value = 0;
    IntField number = nullptr;
    TextField text = nullptr;
    TextField other = nullptr;
    bx_validator call = nullptr;
    const Route *routes = nullptr;
    size_t nroutes = 0;
    bool accepts = false;           // a find passes the transaction at once
};

// Empties the answer text, then runs the steps in order and stops at the
// first that finds what it looks for.  Returns nonzero when the
// transaction passes every step (or a step accepts it).
int run(bx_session s, bx_xaction x, std::span<const Step> steps);

// Step builders, named after what they refuse.
constexpr Step call(bx_validator v) { return {.test = Test::call, .call = v}; }
template <size_t N>
constexpr Step any_of(const Route (&routes)[N], const char *message = nullptr) {
    return {.test = Test::any_of, .message = message, .routes = routes, .nroutes = N};
}
constexpr Step amount_zero(const char *m) {
    return {.test = Test::int_is, .message = m, .value = 0, .number = amount};
}
constexpr Step amount_not_positive(const char *m) {
    return {.test = Test::int_at_most, .message = m, .value = 0, .number = amount};
}
constexpr Step amount_above(int limit, const char *m) {
    return {.test = Test::int_above, .message = m, .value = limit, .number = amount};
}
constexpr Step reversed(const char *m) {
    return {.test = Test::int_is, .message = m, .value = BX_CODE_REVERSE, .number = code};
}
constexpr Step code_not(int c, const char *m) {
    return {.test = Test::int_is_not, .message = m, .value = c, .number = code};
}
constexpr Step test_order(const char *m) {
    return {.test = Test::int_is, .message = m, .value = BX_RTYPE_TEST, .number = rtype};
}
constexpr Step test_order_passes() {
    return {.test = Test::int_is, .value = BX_RTYPE_TEST, .number = rtype, .accepts = true};
}
constexpr Step no_acctype(const char *m) {
    return {.test = Test::int_is, .message = m, .value = 0, .number = acctype};
}
constexpr Step empty(TextField f, const char *m) {
    return {.test = Test::text_empty, .message = m, .text = f};
}
constexpr Step blank(TextField f, const char *m) {
    return {.test = Test::text_blank, .message = m, .text = f};
}
constexpr Step has_char(TextField f, char c, const char *m) {
    return {.test = Test::text_has, .message = m, .value = static_cast<unsigned char>(c), .text = f};
}
constexpr Step both_present(TextField a, TextField b, const char *m) {
    return {.test = Test::both_present, .message = m, .text = a, .other = b};
}
constexpr Step either_empty(TextField a, TextField b, const char *m) {
    return {.test = Test::either_empty, .message = m, .text = a, .other = b};
}
constexpr Step industry_not(char c, const char *m) {
    return {.test = Test::industry_not, .message = m, .value = static_cast<unsigned char>(c)};
}
constexpr Step transtype_shorter(int n, const char *m) {
    return {.test = Test::transtype_shorter, .message = m, .value = n};
}
constexpr Step issuer_not(int issuer, const char *m) {
    return {.test = Test::issuer_not, .message = m, .value = issuer};
}
constexpr Step issuer_unknown(const char *m) { return {.test = Test::issuer_unknown, .message = m}; }
constexpr Step no_identification(const char *m) {
    return {.test = Test::no_identification, .message = m};
}

}  // namespace brix::val
#endif

#endif
