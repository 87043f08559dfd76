// bx_val_nova: the NOVA protocol (also selected as NOVA-TCP).  Card
// transactions: authorisation, sale and return.  Card number and expiry
// are only required to be there.
//
// Failure policy: validators refuse with their reason in the answer text.
#include "validate/bx_val_nova.h"

using namespace brix::val;

namespace {

constexpr Step kCcard[] = {
    amount_zero(kAmountMoreThanZero),
    either_empty(card_num, card_edate, kCardOrTrackRequired),
};

constexpr Step kNova[] = {
    call(bx_val_nova_ccard),
};

constexpr Step kSale[] = {
    call(bx_val_nova),
    empty(authcode, kAuthCodeRequired),
};

}  // namespace

extern "C" {

int bx_val_nova_ccard(bx_session s, bx_xaction x) { return run(s, x, kCcard); }

int bx_val_nova(bx_session s, bx_xaction x) { return run(s, x, kNova); }

int bx_val_nova_sale(bx_session s, bx_xaction x) { return run(s, x, kSale); }

void bx_val_nova_setup(bx_session s) {
    install(s, {BX_PROTO_NOVA, BX_DBTYPE_CARD,
                {bx_val_nova, nullptr, bx_val_nova_sale, bx_val_nova, nullptr}});
}

}  // extern "C"
