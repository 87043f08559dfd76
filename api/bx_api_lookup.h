// bx_api_lookup: the invoice of the n-th transaction of one queue.
#ifndef BRIX_API_BX_API_LOOKUP_H
#define BRIX_API_BX_API_LOOKUP_H

#include "session/bx_session.h"

#ifdef __cplusplus
extern "C" {
#endif

// 0 with the invoice (or "NONE") in apitext; -2 for a bad item number or
// type; -7 without a session; 128 when the queue is not open.
int bx_lookup(bx_session vsess, int type, int itemnum);

#ifdef __cplusplus
}
#endif

#endif
