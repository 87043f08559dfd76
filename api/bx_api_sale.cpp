// bx_api_sale: bx_sale, the sale request: a transaction in "new", "auth" or
// "review" goes to "ready" for the next batch upload.
//
// The shared request engine (bx_api_request) does the work; see there for
// the locks and the failure policy.
#include "api/bx_api_sale.h"

#include "api/bx_api_request.h"

extern "C" int bx_sale(bx_session vsess, const char *invoice) {
    return bx_api_request(vsess, invoice, bx_request::sale);
}
