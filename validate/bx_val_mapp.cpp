// bx_val_mapp: the MAPP protocol.  Card transactions: authorisation,
// reversal of a sale, sale with an authorisation code, and return.  The
// card may be shown by track 2 data or by number and expiry date.
//
// Failure policy: validators refuse with their reason in the answer text.
#include "validate/bx_val_mapp.h"

using namespace brix::val;

namespace {

// Track 2 data; else the card number and a well-formed expiry date, whose
// reason stands when they fail.
constexpr Route kCard[] = {{{bx_val_track2}}, {{bx_val_cardnum, bx_val_expdate}}};

constexpr Step kMapp[] = {
    amount_above(9999999, "text {for MAPP amount cannot exceed 99999.99}"),
    amount_not_positive("text {for MAPP amount cannot be less than 0.01}"),
    any_of(kCard),
};

constexpr Step kMappSale[] = {
    call(bx_val_mapp),
    empty(authcode, kAuthCodeRequired),
};

}  // namespace

extern "C" {

int bx_val_mapp(bx_session s, bx_xaction x) { return run(s, x, kMapp); }

int bx_val_mappsale(bx_session s, bx_xaction x) { return run(s, x, kMappSale); }

void bx_val_mapp_setup(bx_session s) {
    install(s, {BX_PROTO_MAPP, BX_DBTYPE_CARD,
                {bx_val_mapp, bx_val_ccsale, bx_val_mappsale, bx_val_mapp, nullptr}});
}

}  // extern "C"
