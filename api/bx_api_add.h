// bx_api_add: setting one field of a transaction still in the "new" queue.
#ifndef BRIX_API_BX_API_ADD_H
#define BRIX_API_BX_API_ADD_H

#include "session/bx_session.h"

#ifdef __cplusplus
extern "C" {
#endif

// 0 stored; -7 no session; -4 unknown invoice or not in "new"; -5 the queue
// cannot be locked, read or written; -2 or 128 the argument was refused;
// 128 the stored transaction cannot be unpacked or packed again.
int bx_add(bx_session vsess, const char *invoice, int argtype, const char *argval);

#ifdef __cplusplus
}
#endif

#endif
