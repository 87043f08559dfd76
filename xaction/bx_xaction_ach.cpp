// bx_xaction_ach: the ACH kind of transaction record.
//
// bx_new (api) initialises ACH records here.  ACH records are filled
// through the account setters they share with cheques (bx_xaction.h) and
// have no setters of their own.
//
// Failure policy: nothing can fail but a null record, which gives 0.
#include "xaction/bx_xaction_ach.h"

#include <cstring>

extern "C" {

int bx_xaction_ach_init(bx_xaction xaction) {
    if (!xaction) return 0;
    brix::xaction_set_kind(xaction, BX_DBTYPE_ACH, 1, BX_CODE_SALE, BX_FORMAT_ACH);
    memset(&xaction->data.check, 0, sizeof xaction->data.check);
    return 1;
}

int bx_xaction_ach_destroy(bx_xaction) { return 1; }

}  // extern "C"
