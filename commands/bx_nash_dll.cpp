// bx_nash_dll: the Nashville dial numbers, a row of the state record store
// (bx_dll).  Called by the phone-number command (bx_cmd_nash).
//
// Failure policy: as bx_dll_sync; the session is always returned.
#include "commands/bx_nash_dll.h"

#include "commands/bx_dll.h"

extern "C" bx_session bx_nash_dllsync_phonenum(bx_session s) {
    bx_dll_sync(s, bx_dll_key::phonenum);
    return s;
}
