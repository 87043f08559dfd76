// bx_nash_dll: the Nashville dial numbers, the "PHONENUM" state record of
// the globals queue.
#ifndef BRIX_COMMANDS_BX_NASH_DLL_H
#define BRIX_COMMANDS_BX_NASH_DLL_H

#include "session/bx_session.h"

#ifdef __cplusplus
extern "C" {
#endif

// Moves dll.phonenum to or from the "PHONENUM" record by its sync state;
// returns the session.
bx_session bx_nash_dllsync_phonenum(bx_session sess);

#ifdef __cplusplus
}
#endif

#endif
