// bx_api_reverse: bx_reverse, the reversal request: an authorised (or
// reviewed) transaction goes back to "unauth" to have its authorisation
// reversed.
//
// The shared request engine (bx_api_request) does the work; see there for
// the locks and the failure policy.
#include "api/bx_api_reverse.h"

#include "api/bx_api_request.h"

extern "C" int bx_reverse(bx_session vsess, const char *invoice) {
    return bx_api_request(vsess, invoice, bx_request::reverse);
}
