// bx_val_utf: the UTF protocol.  Card transactions: authorisation,
// reversal (direct-marketing merchants, Visa cards), sale and return.
// Card number and expiry are only required to be there; their form is the
// processor's business.  The setup also puts the resend command in front
// of the command chain.
//
// Failure policy: validators refuse with their reason in the answer text.
#include "validate/bx_val_utf.h"

#include "commands/bx_cmd_utf.h"
#include "validate/bx_util_issuer.h"

using namespace brix::val;

namespace {

constexpr Step kCcard[] = {
    amount_zero(kAmountMoreThanZero),
    both_present(track1, track2, "text {cannot have both track1 and track2 data}"),
    either_empty(card_num, card_edate, kCardOrTrackRequired),
};

constexpr Step kUtf[] = {
    call(bx_val_utf_ccard),
};

constexpr Step kSale[] = {
    call(bx_val_utf),
    empty(authcode, kAuthCodeRequired),
    reversed(kSaleReversed),
};

// The merchant is looked at before the card.
constexpr Step kReverse[] = {
    call(bx_val_utf),
    industry_not('D', "text {reversals can only be done in direct marketing}"),
    issuer_not(BX_ISSUER_VISA, "text {only Visa transactions can be reversed}"),
};

}  // namespace

extern "C" {

int bx_val_utf_ccard(bx_session s, bx_xaction x) { return run(s, x, kCcard); }

int bx_val_utf(bx_session s, bx_xaction x) { return run(s, x, kUtf); }

int bx_val_utf_sale(bx_session s, bx_xaction x) { return run(s, x, kSale); }

int bx_val_utf_reverse(bx_session s, bx_xaction x) { return run(s, x, kReverse); }

void bx_val_utf_setup(bx_session s) {
    install(s, {BX_PROTO_UTF, BX_DBTYPE_CARD,
                {bx_val_utf, bx_val_utf_reverse, bx_val_utf_sale, bx_val_utf, nullptr}});
    bx_cmd_utf_install(s);
}

}  // extern "C"
