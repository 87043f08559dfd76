// bx_val_scan: the SCAN protocol, cheque guarantee.  Authorisation only;
// the setup refuses every other request in so many words.  The cheque
// must carry its MICR data.
//
// Failure policy: validators refuse with their reason in the answer text.
#include "validate/bx_val_scan.h"

using namespace brix::val;

namespace {

constexpr Step kScan[] = {
    empty(checknum, kCheckNumMissing),
    amount_not_positive(kAmountMissing),
    amount_above(9999999, "text {SCAN amount cannot exceed 99999.99}"),
    either_empty(troutnum, bankaccnum, "text {SCAN requires MICR data}"),
    call(bx_val_abacheck),
};

}  // namespace

extern "C" {

int bx_val_scan(bx_session s, bx_xaction x) { return run(s, x, kScan); }

void bx_val_scan_setup(bx_session s) {
    install(s, {BX_PROTO_SCAN, BX_DBTYPE_CHECK,
                {bx_val_scan, bx_val_never, bx_val_never, bx_val_never, bx_val_never}});
}

}  // extern "C"
