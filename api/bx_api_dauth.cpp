// bx_api_dauth: bx_auth, the authorisation request: a transaction in "new"
// goes to "unauth" for the daemon's on-line authorisation.
//
// The shared request engine (bx_api_request) does the work; see there for
// the locks and the failure policy.
#include "api/bx_api_dauth.h"

#include "api/bx_api_request.h"

extern "C" int bx_auth(bx_session vsess, const char *invoice) {
    return bx_api_request(vsess, invoice, bx_request::auth);
}
