// bx_api_void: placeholder until the processing requests are built.
#include "api/bx_api_void.h"

extern "C" int bx_void(bx_session vsess, const char *) { return vsess ? BX_INVALID : BX_UNINIT; }
