// bx_api_reverse: bx_reverse, the "reverse" processing request. 
#ifndef BRIX_API_BX_API_REVERSE_H
#define BRIX_API_BX_API_REVERSE_H

#include "session/bx_session.h"

#ifdef __cplusplus
extern "C" {
#endif

int bx_reverse(bx_session vsess, const char *invoice);

#ifdef __cplusplus
}
#endif

#endif
