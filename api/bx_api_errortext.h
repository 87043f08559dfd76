// bx_api_errortext: the answer text of a session's last operation.
//
// Called by the script binding for "bx_textvalue" and "bx_errortext"; both
// give the same text, the session's apitext, which every operation leaves
// behind.  The text belongs to the session: callers copy it, never free it.
//
// Failure policy: no session gives null; nothing is logged.
#ifndef BRIX_API_BX_API_ERRORTEXT_H
#define BRIX_API_BX_API_ERRORTEXT_H

#include "session/bx_session.h"

#ifdef __cplusplus
extern "C" {
#endif

const char *bx_textvalue(bx_session session);
const char *bx_errortext(bx_session session);

#ifdef __cplusplus
}
#endif

#endif
