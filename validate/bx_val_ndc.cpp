// bx_val_ndc: the NDC protocol.  Card transactions: authorisation, sale
// and return.  An authorisation may be for any amount up to the limit,
// zero included; sales and returns need more than zero.
//
// Failure policy: validators refuse with their reason in the answer text.
#include "validate/bx_val_ndc.h"

using namespace brix::val;

namespace {

// Track 1 data, track 2 data, or the card number and a well-formed expiry
// date; when none is there the reason of the last one tried stands.
constexpr Route kCard[] = {
    {{bx_val_track1}}, {{bx_val_track2}}, {{bx_val_cardnum, bx_val_expdate}}};

constexpr Step kAuth[] = {
    amount_above(9999999, "text {amount must not be more than 99999.99}"),
    any_of(kCard),
};

constexpr Step kSale[] = {
    call(bx_val_ndc_auth),
    amount_not_positive("text {amount must exceed 0}"),
    empty(authcode, "text {must have an auth code}"),
    reversed("text {transaction has been reversed}"),
};

constexpr Step kReturn[] = {
    call(bx_val_ndc_auth),
    amount_not_positive("text {amount must exceed 0}"),
};

}  // namespace

extern "C" {

int bx_val_ndc_auth(bx_session s, bx_xaction x) { return run(s, x, kAuth); }

int bx_val_ndc_sale(bx_session s, bx_xaction x) { return run(s, x, kSale); }

int bx_val_ndc_return(bx_session s, bx_xaction x) { return run(s, x, kReturn); }

void bx_val_ndc_setup(bx_session s) {
    install(s, {BX_PROTO_NDC, BX_DBTYPE_CARD,
                {bx_val_ndc_auth, nullptr, bx_val_ndc_sale, bx_val_ndc_return, nullptr}});
}

}  // extern "C"
