// bx_api_dauth: bx_auth, the "auth" processing request. 
#ifndef BRIX_API_BX_API_DAUTH_H
#define BRIX_API_BX_API_DAUTH_H

#include "session/bx_session.h"

#ifdef __cplusplus
extern "C" {
#endif

int bx_auth(bx_session vsess, const char *invoice);

#ifdef __cplusplus
}
#endif

#endif
