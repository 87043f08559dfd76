// bx_val_nash: the Nashville protocol.  Card transactions: authorisation,
// sale and return, for cards of a known issuer range with a valid check
// digit.  A test order may be authorised without any card, but is never
// settled.  The setup also puts the phone-number command in front of the
// command chain.
//
// Failure policy: validators refuse with their reason in the answer text.
#include "validate/bx_val_nash.h"

#include "commands/bx_cmd_nash.h"

using namespace brix::val;

namespace {

constexpr const char *kTestNotSettled = "text {test transactions cannot be settled}";

constexpr Step kCcard[] = {
    amount_zero(kAmountMoreThanZero),
    amount_above(9999999, "text {amount cannot exceed 99999.99}"),
    either_empty(card_num, card_edate, kCardOrTrackRequired),
    call(bx_val_expdate),
    issuer_unknown("text {cardnum is not in a known range}"),
};

constexpr Step kNash[] = {
    test_order_passes(),
    call(bx_val_nash_ccard),
    call(bx_val_luhn),
};

constexpr Step kReturn[] = {
    test_order(kTestNotSettled),
    call(bx_val_nash),
};

// Nashville takes an authorisation code of blanks for none.
constexpr Step kSale[] = {
    test_order(kTestNotSettled),
    call(bx_val_nash),
    blank(authcode, kAuthCodeRequired),
    reversed(kSaleReversed),
};

}  // namespace

extern "C" {

int bx_val_nash_ccard(bx_session s, bx_xaction x) { return run(s, x, kCcard); }

int bx_val_nash(bx_session s, bx_xaction x) { return run(s, x, kNash); }

int bx_val_nash_return(bx_session s, bx_xaction x) { return run(s, x, kReturn); }

int bx_val_nash_sale(bx_session s, bx_xaction x) { return run(s, x, kSale); }

void bx_val_nash_setup(bx_session s) {
    install(s, {BX_PROTO_NASH, BX_DBTYPE_CARD,
                {bx_val_nash, nullptr, bx_val_nash_sale, bx_val_nash_return, nullptr}});
    bx_cmd_nash_install(s);
}

}  // extern "C"
