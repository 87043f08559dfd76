// bx_val_vital: the VITAL protocol.  Card transactions: authorisation,
// reversal, sale and return.  A card is shown by one track's data or by
// number and expiry date (the track setters fill those in as well).
//
// Failure policy: validators refuse with their reason in the answer text.
#include "validate/bx_val_vital.h"

using namespace brix::val;

namespace {

constexpr Step kCcard[] = {
    amount_zero(kAmountMoreThanZero),
    both_present(track1, track2, "text {cannot have both track1 and track2 data}"),
    either_empty(card_num, card_edate, kCardOrTrackRequired),
    call(bx_val_cardnum),
    call(bx_val_expdate),
};

constexpr Step kVital[] = {
    call(bx_val_vital_ccard),
    amount_above(9999999, "text {for VITAL amount cannot exceed 99999.99}"),
};

constexpr Step kSale[] = {
    call(bx_val_vital),
    empty(authcode, kAuthCodeRequired),
    reversed(kSaleReversed),
};

}  // namespace

extern "C" {

int bx_val_vital_ccard(bx_session s, bx_xaction x) { return run(s, x, kCcard); }

int bx_val_vital(bx_session s, bx_xaction x) { return run(s, x, kVital); }

int bx_val_vital_sale(bx_session s, bx_xaction x) { return run(s, x, kSale); }

void bx_val_vital_setup(bx_session s) {
    install(s, {BX_PROTO_VITAL, BX_DBTYPE_CARD,
                {bx_val_vital, bx_val_vital, bx_val_vital_sale, bx_val_vital, nullptr}});
}

}  // extern "C"
