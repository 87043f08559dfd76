// bx_val_telecheck: the TeleCheck protocol, cheque guarantee.
// Authorisation only.  The writer is identified by the cheque's MICR data
// or by a driver's licence.
//
// Failure policy: validators refuse with their reason in the answer text.
#include "validate/bx_val_telecheck.h"

using namespace brix::val;

namespace {

constexpr Step kTelecheck[] = {
    empty(checknum, kCheckNumMissing),
    amount_not_positive(kAmountMissing),
    amount_above(99999999, "text {TeleCheck amount cannot exceed 999999.99}"),
    no_identification("text {TeleCheck requires either MICR data or drivers license}"),
};

}  // namespace

extern "C" {

int bx_val_telecheck(bx_session s, bx_xaction x) { return run(s, x, kTelecheck); }

void bx_val_telecheck_setup(bx_session s) {
    install(s, {BX_PROTO_TELECHECK, BX_DBTYPE_CHECK,
                {bx_val_telecheck, nullptr, nullptr, nullptr, nullptr}});
}

}  // extern "C"
