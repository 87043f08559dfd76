// bx_api_dauth: placeholder until the processing requests are built.
#include "api/bx_api_dauth.h"

extern "C" int bx_auth(bx_session vsess, const char *) { return vsess ? BX_INVALID : BX_UNINIT; }
