// bx_val_demo: the card demonstration protocol (also selected as "foo").
// Authorisation, reversal, sale and return with the common card check.
//
// Nothing here fails.
#include "validate/bx_val.h"

using namespace brix::val;

extern "C" {

void bx_val_demo_setup(bx_session s) {
    install(s, {BX_PROTO_DEMO, BX_DBTYPE_CARD,
                {bx_val_ccard, bx_val_ccard, bx_val_ccard, bx_val_ccard, nullptr}});
}

}  // extern "C"
