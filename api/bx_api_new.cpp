// bx_api_new: bx_new creates a transaction of the session's kind under an
// invoice and stores it in the "new" queue.
//
// The "new" queue's lock is held from before the in-use test until the
// store is done, so of two sessions creating the same invoice at once
// exactly one succeeds; the other finds it in use.
//
// Failure policy: storage failures are logged with the invoice text as the
// caller gave it and answered with BX_DATA or BX_FAILED; nothing is stored unless
// every step succeeded.
#include "api/bx_api_new.h"

#include <ctime>

#include "api/bx_api_status.h"
#include "api/bx_api_xact.h"
#include "support/qor_log.h"
#include "support/qor_util.h"
#include "xaction/bx_xaction_ach.h"
#include "xaction/bx_xaction_check.h"
#include "xaction/bx_xaction_retail.h"

namespace {

// The kind initialiser of each record kind.
struct Kind {
    int dbtype;
    int (*init)(bx_xaction);
};
const Kind kKinds[] = {{BX_DBTYPE_CARD, bx_xaction_retail_init},
                       {BX_DBTYPE_CHECK, bx_xaction_check_init},
                       {BX_DBTYPE_ACH, bx_xaction_ach_init}};

int create(bx_session s, const char *invoice, bx_queue q) {
    bx_queue_lock lock(q);
    if (!lock.held()) {
        qor_log_errf(QOR_LOG_NONFATAL, "Unable to lock database to store transaction %s", invoice);
        return BX_DATA;
    }
    int status = bx_api_where(s, invoice);
    if (status < 0) {
        qor_field_set(s->apitext, BX_TEXT_UNSEARCHABLE);
        return BX_FAILED;
    }
    if (status != BX_STAT_NONE) {
        qor_field_set(s->apitext, "text {invoice already in use}");
        return BX_DUPLICATE;
    }

    _bx_xaction x = {};
    // A session of no known kind stores an all-zero record.
    for (const Kind &k : kKinds)
        if (k.dbtype == s->dbtype) k.init(&x);
    if (!bx_xaction_retail_setinvoice(&x, invoice)) {
        qor_field_set(s->apitext, "text {could not set invoice}");
        return BX_FAILED;
    }
    x.time.creat = time(nullptr);

    bx_store stored = bx_api_store(q, &x, invoice);
    if (stored == bx_store::unpackable) return BX_FAILED;
    int result = stored == bx_store::stored ? BX_OK : BX_FAILED;
    if (lock.release() != 0)
        qor_log_errf(QOR_LOG_WARNING, "Unable to unlock database after storing transaction %s",
                     invoice);
    return result;
}

}  // namespace

extern "C" {

int bx_new(bx_session vsess, const char *invoice) {
    if (!vsess) return BX_UNINIT;
    vsess->apitext[0] = '\0';
    if (!invoice) invoice = "";
    bx_queue q = bx_api_queue(vsess, BX_STAT_NEW, "bx_new");
    if (!q) return BX_DATA;
    return create(vsess, invoice, q);
}

}  // extern "C"
