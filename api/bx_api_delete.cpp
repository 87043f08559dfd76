// bx_api_delete: bx_delete removes a transaction wherever it lies, except
// from the queues the daemon works from ("ready" and "unauth").
//
// The status is decided before the queue lock is taken; the item is found
// again under the lock, and only that second find decides whether
// anything is removed.
//
// Failure policy: a transaction that moved away in between, a failed lock,
// a queue that cannot be searched, a delete that failed part way (the
// transaction then stays findable) or an unopened queue is logged and
// answered with BX_FAILED.
#include "api/bx_api_delete.h"

#include "api/bx_api_status.h"
#include "api/bx_api_xact.h"
#include "support/qor_log.h"
#include "support/qor_util.h"

extern "C" {

int bx_delete(bx_session vsess, const char *invoice) {
    if (!vsess) return BX_UNINIT;
    vsess->apitext[0] = '\0';
    if (!invoice) invoice = "";
    int status = bx_status(vsess, invoice);
    if (status < 0) return BX_FAILED;  // with bx_status's text
    if (status == BX_STAT_NONE) {
        qor_field_set(vsess->apitext, "text {invoice doesn't exist}");
        return BX_BADINVOICE;
    }
    // The daemon works from these two: their transactions are its.
    if (status == BX_STAT_READY || status == BX_STAT_UNAUTH) {
        qor_field_set(vsess->apitext, "text {illegal operation on that invoice}");
        return BX_BADINVOICE;
    }
    bx_queue q = bx_api_queue(vsess, status, "bx_delete");
    if (!q) return BX_FAILED;
    bx_queue_lock lock(q);
    if (!lock.held()) {
        qor_log_errf(QOR_LOG_NONFATAL, "Unable to lock database to delete transaction %s", invoice);
        return BX_FAILED;
    }
    bx_queue_item item = bx_queue_find_item(q, invoice);
    if (!item || bx_queue_item_delete(q, item) != 0) {
        qor_logf(QOR_LOG_NONFATAL, "Error deleting transaction %s.", invoice);
        return BX_FAILED;
    }
    vsess->apitext[0] = '\0';
    return BX_OK;
}

}  // extern "C"
