// bx_api_new: bx_new creates a transaction of the session's kind under an
// invoice and stores it in the "new" queue.
//
// The "new" queue's lock is held from before the in-use test until the
// store is done, so of two sessions creating the same invoice at once
// exactly one succeeds; the other finds it in use.
//
// Failure policy: storage failures are logged with the invoice text as the
// caller gave it and answered with -5 or 128; nothing is stored unless
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

// The kind initialiser for the session's record kind.
int (*const kInit[])(bx_xaction) = {nullptr, bx_xaction_retail_init, bx_xaction_check_init,
                                    bx_xaction_ach_init};

int create(bx_session s, const char *invoice, bx_queue q) {
    bx_queue_lock lock(q);
    if (!lock.held()) {
        qor_log_errf(QOR_LOG_NONFATAL, "Unable to lock database to store transaction %s", invoice);
        return -5;
    }
    if (bx_status(s, invoice) != 0) {
        qor_field_set(s->apitext, "text {invoice already in use}");
        return -3;
    }
    s->apitext[0] = '\0';

    _bx_xaction x = {};
    if (s->dbtype >= 1 && s->dbtype <= 3) kInit[s->dbtype](&x);
    if (!bx_xaction_retail_setinvoice(&x, invoice)) {
        qor_field_set(s->apitext, "text {could not set invoice}");
        return 128;
    }
    x.time.creat = time(nullptr);

    bx_store stored = bx_api_store(q, &x, invoice);
    if (stored == bx_store::unpackable) return 128;
    int result = stored == bx_store::stored ? 0 : 128;
    if (lock.release() != 0)
        qor_log_errf(QOR_LOG_WARNING, "Unable to unlock database after storing transaction %s",
                     invoice);
    return result;
}

}  // namespace

extern "C" {

int bx_new(bx_session vsess, const char *invoice) {
    if (!vsess) return -7;
    vsess->apitext[0] = '\0';
    if (!invoice) invoice = "";
    bx_queue q = bx_api_queue(vsess, 1, "bx_new");
    if (!q) return -5;
    return create(vsess, invoice, q);
}

}  // extern "C"
