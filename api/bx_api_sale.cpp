// bx_api_sale: placeholder until the processing requests are built.
#include "api/bx_api_sale.h"

extern "C" int bx_sale(bx_session vsess, const char *) { return vsess ? BX_INVALID : BX_UNINIT; }
