// bx_api_return: placeholder until the processing requests are built.
#include "api/bx_api_return.h"

extern "C" int bx_return(bx_session vsess, const char *) { return vsess ? BX_INVALID : BX_UNINIT; }
