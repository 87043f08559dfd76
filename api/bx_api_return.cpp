// bx_api_return: bx_return, the refund request: a transaction in "new" goes
// to "ready" as a return.
//
// The shared request engine (bx_api_request) does the work; see there for
// the locks and the failure policy.
#include "api/bx_api_return.h"

#include "api/bx_api_request.h"

extern "C" int bx_return(bx_session vsess, const char *invoice) {
    return bx_api_request(vsess, invoice, bx_request::return_);
}
