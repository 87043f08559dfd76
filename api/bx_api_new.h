// bx_api_new: creating a transaction under an invoice.
#ifndef BRIX_API_BX_API_NEW_H
#define BRIX_API_BX_API_NEW_H

#include "session/bx_session.h"

#ifdef __cplusplus
extern "C" {
#endif

// 0 created; -7 no session; -3 invoice in use; -5 the "new" queue cannot be
// locked; 128 any other failure.
int bx_new(bx_session vsess, const char *invoice);

#ifdef __cplusplus
}
#endif

#endif
