// bx_api_reverse: placeholder until the processing requests are built.
#include "api/bx_api_reverse.h"

extern "C" int bx_reverse(bx_session vsess, const char *) { return vsess ? BX_INVALID : BX_UNINIT; }
