// bx_val_demc: the cheque demonstration protocol, a cheque guarantee
// without an upper amount limit.  Authorisation only.  The writer is
// identified by the cheque's MICR data or by a driver's licence.
//
// Failure policy: validators refuse with their reason in the answer text.
#include "validate/bx_val_demc.h"

using namespace brix::val;

namespace {

constexpr Step kDummyCheck[] = {
    empty(checknum, kCheckNumMissing),
    amount_not_positive(kAmountMissing),
    no_identification("text {check guarantee requires either MICR data or drivers license}"),
};

}  // namespace

extern "C" {

int bx_val_dummycheck(bx_session s, bx_xaction x) { return run(s, x, kDummyCheck); }

void bx_val_demc_setup(bx_session s) {
    install(s, {BX_PROTO_DEMO, BX_DBTYPE_CHECK,
                {bx_val_dummycheck, nullptr, nullptr, nullptr, nullptr}});
}

}  // extern "C"
