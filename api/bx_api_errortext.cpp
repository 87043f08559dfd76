// bx_api_errortext: access to a session's answer text.  See the header.
#include "api/bx_api_errortext.h"

extern "C" {

const char *bx_textvalue(bx_session session) { return session ? session->apitext : nullptr; }

const char *bx_errortext(bx_session session) { return session ? session->apitext : nullptr; }

}  // extern "C"
