// bx_api_count: counting the transactions of chosen queues.
#ifndef BRIX_API_BX_API_COUNT_H
#define BRIX_API_BX_API_COUNT_H

#include "session/bx_session.h"

#ifdef __cplusplus
extern "C" {
#endif

// Total number of items in the queues whose status bits are set in type
// (-7 without a session); one label per counted queue in apitext.
int bx_count(bx_session vsess, int type);

#ifdef __cplusplus
}
#endif

#endif
