// bx_api_return: bx_return, the "return" processing request. 
#ifndef BRIX_API_BX_API_RETURN_H
#define BRIX_API_BX_API_RETURN_H

#include "session/bx_session.h"

#ifdef __cplusplus
extern "C" {
#endif

int bx_return(bx_session vsess, const char *invoice);

#ifdef __cplusplus
}
#endif

#endif
