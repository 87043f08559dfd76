// bx_api_void: bx_void, the "void" processing request. 
#ifndef BRIX_API_BX_API_VOID_H
#define BRIX_API_BX_API_VOID_H

#include "session/bx_session.h"

#ifdef __cplusplus
extern "C" {
#endif

int bx_void(bx_session vsess, const char *invoice);

#ifdef __cplusplus
}
#endif

#endif
