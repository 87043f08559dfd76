// bx_xaction_ach: the ACH kind of transaction record.
//
// bx_new (api) initialises ACH records here.  ACH records use the generic
// setters of bx_xaction.h (routing and account numbers, account name and
// type); they have no setters of their own.
//
// Failure policy: none to report; a null record gives 0.
#ifndef BRIX_XACTION_BX_XACTION_ACH_H
#define BRIX_XACTION_BX_XACTION_ACH_H

#include "xaction/bx_xaction.h"

#ifdef __cplusplus
extern "C" {
#endif

// Sets dbtype 3 and the ACH subtype (1/1/0/3/95), clears data.check;
// returns 1.  The destroy call has nothing to release and returns 1.
int bx_xaction_ach_init(bx_xaction xaction);
int bx_xaction_ach_destroy(bx_xaction xaction);

#ifdef __cplusplus
}
#endif

#endif
