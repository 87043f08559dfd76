// bx_nash_dll: placeholder until the state records are built.
#include "commands/bx_nash_dll.h"

extern "C" bx_session bx_nash_dllsync_phonenum(bx_session s) { return s; }
