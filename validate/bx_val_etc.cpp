// bx_val_etc: the ETC+ protocol.  Card transactions: authorisation, sale
// and return, each with the common card check and ETC+'s amount limit.
//
// Failure policy: validators refuse with their reason in the answer text.
#include "validate/bx_val_etc.h"

using namespace brix::val;

namespace {

constexpr Step kEtc[] = {
    call(bx_val_ccard),
    amount_above(99999999, "text {for ETC+ amount cannot exceed 999999.99}"),
};

}  // namespace

extern "C" {

int bx_val_etc(bx_session s, bx_xaction x) { return run(s, x, kEtc); }

void bx_val_etc_setup(bx_session s) {
    install(s, {BX_PROTO_ETC, BX_DBTYPE_CARD, {bx_val_etc, nullptr, bx_val_etc, bx_val_etc, nullptr}});
}

}  // extern "C"
