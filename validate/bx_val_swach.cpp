// bx_val_swach: the SWACH protocol, ACH debits.  Sale only; the setup
// refuses every other request in so many words.  The merchant's
// configuration must give the transaction code the debits are sent with.
//
// Failure policy: validators refuse with their reason in the answer text.
#include "validate/bx_val_swach.h"

using namespace brix::val;

namespace {

constexpr Step kSwach[] = {
    transtype_shorter(2, "text {invalid transaction code in config file}"),
    amount_not_positive(kAmountMissing),
    amount_above(99999999, "text {SWACH amount cannot exceed 999999.99}"),
    empty(troutnum, "text {SWACH requires transit/routing number}"),
    empty(bankaccnum, "text {SWACH requires bank account number}"),
    empty(accname, "text {SWACH requires name attached to bank account}"),
    no_acctype("text {SWACH requires bank account type (savings/dda)}"),
    // The name goes into the processor's comma-separated, quoted file.
    has_char(accname, ',', "text {SWACH forbids commas in account name}"),
    has_char(accname, '"', "text {SWACH forbids double-quotes in account name}"),
    call(bx_val_abacheck),
};

}  // namespace

extern "C" {

int bx_val_swach(bx_session s, bx_xaction x) { return run(s, x, kSwach); }

void bx_val_swach_setup(bx_session s) {
    install(s, {BX_PROTO_SWACH, BX_DBTYPE_ACH,
                {bx_val_never, bx_val_never, bx_val_swach, bx_val_never, bx_val_never}});
}

}  // extern "C"
