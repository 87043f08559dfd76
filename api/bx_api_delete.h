// bx_api_delete: removing a transaction the daemon has no work on.
#ifndef BRIX_API_BX_API_DELETE_H
#define BRIX_API_BX_API_DELETE_H

#include "session/bx_session.h"

#ifdef __cplusplus
extern "C" {
#endif

// 0 deleted; -4 absent, or waiting in "ready" or "unauth"; 128 failure;
// -7 without a session.
int bx_delete(bx_session vsess, const char *invoice);

#ifdef __cplusplus
}
#endif

#endif
