// bx_api_init: opening and closing a session (script functions "bx_init"
// and "bx_done").
#ifndef BRIX_API_BX_API_INIT_H
#define BRIX_API_BX_API_INIT_H

#include "session/bx_session.h"

#ifdef __cplusplus
extern "C" {
#endif

// Opens a session on configuration `name`; null on failure, with the reason
// in bx_initerror and the log.
bx_session bx_init(const char *name);
// Closes the session and gives the process back its real user id.
void bx_done(bx_session session);

#ifdef __cplusplus
}
#endif

#endif
