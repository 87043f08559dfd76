// bx_xaction_check: the cheque kind of transaction record.
//
// bx_new (api) initialises cheque records here; bx_add (api) sets the
// driver's-licence number and the state code that bx_statecode found for
// the session's protocol.
//
// Failure policy: setters return 1 or 0 and write no message; a null
// record or text gives 0.
#ifndef BRIX_XACTION_BX_XACTION_CHECK_H
#define BRIX_XACTION_BX_XACTION_CHECK_H

#include "xaction/bx_xaction.h"

#ifdef __cplusplus
extern "C" {
#endif

// Sets dbtype 2 and the cheque subtype (1/1/0/4/98), clears data.check;
// returns 1.  The destroy call has nothing to release and returns 1.
int bx_xaction_check_init(bx_xaction xaction);
int bx_xaction_check_destroy(bx_xaction xaction);

int bx_xaction_check_setlicensenum(bx_xaction xaction, const char *licensenum);
int bx_xaction_check_setlicensestate(bx_xaction xaction, const char *licensestate);

#ifdef __cplusplus
}
#endif

#endif
