// bx_api_void: bx_void, the void request: a processed transaction in "done"
// goes to "ready" to be voided.
//
// The shared request engine (bx_api_request) does the work; see there for
// the locks and the failure policy.
#include "api/bx_api_void.h"

#include "api/bx_api_request.h"

extern "C" int bx_void(bx_session vsess, const char *invoice) {
    return bx_api_request(vsess, invoice, bx_request::void_);
}
