// bx_val_southp: the SouthP protocol.  Card transactions: authorisation,
// sale and return, for cards of a known issuer range with a valid check
// digit.
//
// Failure policy: validators refuse with their reason in the answer text.
#include "validate/bx_val_southp.h"

using namespace brix::val;

namespace {

constexpr Step kCcard[] = {
    amount_zero(kAmountMoreThanZero),
    amount_above(99999999, "text {amount cannot exceed 999999.99}"),
    either_empty(card_num, card_edate, kCardOrTrackRequired),
    call(bx_val_expdate),
    issuer_unknown("text {cardnum is not in a known range}"),
};

constexpr Step kSouthp[] = {
    call(bx_val_southp_ccard),
    call(bx_val_luhn),
};

constexpr Step kSale[] = {
    call(bx_val_southp),
    empty(authcode, kAuthCodeRequired),
    reversed(kSaleReversed),
};

}  // namespace

extern "C" {

int bx_val_southp_ccard(bx_session s, bx_xaction x) { return run(s, x, kCcard); }

int bx_val_southp(bx_session s, bx_xaction x) { return run(s, x, kSouthp); }

int bx_val_southp_sale(bx_session s, bx_xaction x) { return run(s, x, kSale); }

void bx_val_southp_setup(bx_session s) {
    install(s, {BX_PROTO_SOUTHP, BX_DBTYPE_CARD,
                {bx_val_southp, nullptr, bx_val_southp_sale, bx_val_southp, nullptr}});
}

}  // extern "C"
