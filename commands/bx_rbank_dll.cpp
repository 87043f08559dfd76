// bx_rbank_dll: placeholder until the state records are built.
#include "commands/bx_rbank_dll.h"

extern "C" {

bx_session bx_rbank_dllsync_initialization(bx_session s) { return s; }
bx_session bx_rbank_dllsync_initstate(bx_session s) { return s; }
bx_session bx_rbank_dllsync_network(bx_session s) { return s; }
bx_session bx_rbank_dllsync_timeouts(bx_session s) { return s; }
bx_session bx_rbank_dllsync_batchnum(bx_session s) { return s; }
bx_session bx_rbank_dllsync_transnum(bx_session s) { return s; }
bx_session bx_rbank_dllsync_merchant(bx_session s) { return s; }
bx_session bx_rbank_dllsync_ranges(bx_session s) { return s; }
struct _bx_dll_range *bx_rbank_dll_addrange(bx_session) { return nullptr; }
struct _bx_dll_range *bx_rbank_dll_findrange(bx_session, const char *) { return nullptr; }

}  // extern "C"
