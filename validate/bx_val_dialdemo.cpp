// bx_val_dialdemo: the dial-up demonstration protocol.  Card
// transactions: authorisation, reversal, sale and return with the common
// card check; a sale also needs an authorisation code.
//
// Failure policy: validators refuse with their reason in the answer text.
#include "validate/bx_val_dialdemo.h"

using namespace brix::val;

namespace {

constexpr Step kSale[] = {
    call(bx_val_ccard),
    empty(authcode, kAuthCodeRequired),
    reversed(kSaleReversed),
};

}  // namespace

extern "C" {

int bx_val_dialdemo_sale(bx_session s, bx_xaction x) { return run(s, x, kSale); }

void bx_val_dialdemo_setup(bx_session s) {
    install(s, {BX_PROTO_DIALDEMO, BX_DBTYPE_CARD,
                {bx_val_ccard, bx_val_ccard, bx_val_dialdemo_sale, bx_val_ccard, nullptr}});
}

}  // extern "C"
