// bx_val_rbank: the Royal Bank protocol.  Card transactions:
// authorisation, sale, return and the void of a processed return; every
// request carries the product name and the customer's account name (the
// script's "product" and "accountname").  The setup also puts the
// receipt and initialise commands in front of the command chain.
//
// Failure policy: validators refuse with their reason in the answer text.
#include "validate/bx_val_rbank.h"

#include "commands/bx_cmd_rbank.h"

using namespace brix::val;

namespace {

// The expiry date is there (its form is the processor's business); the
// card-shown rule below gives the reason.
int edate_present(bx_session, bx_xaction x) { return x->acc.card.edate[0] != '\0'; }

// Track 2 data alone will do; otherwise both the card number and the
// expiry date.
constexpr Route kCard[] = {{{bx_val_track2}}, {{bx_val_cardnum, edate_present}}};

constexpr Step kCcard[] = {
    amount_zero("text {amount is invalid}"),
    any_of(kCard, "text {either track2 or cardnum/expdate is required}"),
};

constexpr Step kRbank[] = {
    call(bx_val_rbank_ccard),
    amount_above(999999999, "text {for Royal Bank, amount cannot exceed 9999999.99}"),
    empty(product, "text {Royal Bank requires the product name for each transaction}"),
    empty(accname, "text {Royal Bank requires the customer account name for each transaction}"),
};

constexpr Step kSale[] = {
    call(bx_val_rbank),
    empty(authcode, kAuthCodeRequired),
};

constexpr Step kVoid[] = {
    call(bx_val_rbank),
    empty(authcode, "text {transaction was never submitted}"),
    code_not(BX_CODE_RETURN, "text {transaction is not a return}"),
};

}  // namespace

extern "C" {

int bx_val_rbank_ccard(bx_session s, bx_xaction x) { return run(s, x, kCcard); }

int bx_val_rbank(bx_session s, bx_xaction x) { return run(s, x, kRbank); }

int bx_val_rbank_sale(bx_session s, bx_xaction x) { return run(s, x, kSale); }

int bx_val_rbank_void(bx_session s, bx_xaction x) { return run(s, x, kVoid); }

void bx_val_rbank_setup(bx_session s) {
    install(s, {BX_PROTO_RBANK, BX_DBTYPE_CARD,
                {bx_val_rbank, nullptr, bx_val_rbank_sale, bx_val_rbank, bx_val_rbank_void}});
    bx_cmd_rbank_install(s);
}

}  // extern "C"
