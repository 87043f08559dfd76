// bx_rbank_dll: the Royal Bank state records of the globals queue (see
// bx_dll for their layouts and the sync rule) and the card-range table.
#ifndef BRIX_COMMANDS_BX_RBANK_DLL_H
#define BRIX_COMMANDS_BX_RBANK_DLL_H

#include "session/bx_session.h"

#ifdef __cplusplus
extern "C" {
#endif

// Each sync moves one record between the session's dll and the globals
// queue by its sync state (0 read, 1 nothing, 2 write), leaves the state at
// 1 and returns the session.
bx_session bx_rbank_dllsync_initialization(bx_session sess);   // "INITREQF"
bx_session bx_rbank_dllsync_initstate(bx_session sess);        // "INITSTAT"
bx_session bx_rbank_dllsync_network(bx_session sess);          // "NETTIMEF"
bx_session bx_rbank_dllsync_timeouts(bx_session sess);         // "TIMEOUTS"
bx_session bx_rbank_dllsync_batchnum(bx_session sess);         // "BATCHNUM"
bx_session bx_rbank_dllsync_transnum(bx_session sess);         // "TRANSNUM"
bx_session bx_rbank_dllsync_merchant(bx_session sess);         // "MERCHANT"
bx_session bx_rbank_dllsync_ranges(bx_session sess);           // "SERVICES"

// A new zero-filled range at the end of the table, or null when it holds
// 30.  The sync state is not changed: a caller that fills the range sets
// ranges.valid to 2 and syncs.
struct _bx_dll_range *bx_rbank_dll_addrange(bx_session sess);
// The first range that covers the card number, or null.  A range covers
// a number whose first strlen(prefixlow) characters lie from prefixlow
// (inclusive) to prefixhigh (exclusive).  The ranges are read first when
// they have not been loaded (ranges.valid 0).
struct _bx_dll_range *bx_rbank_dll_findrange(bx_session sess, const char *cardnum);

#ifdef __cplusplus
}
#endif

#endif
