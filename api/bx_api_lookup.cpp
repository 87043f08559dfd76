// bx_api_lookup: bx_lookup walks one queue, oldest first, to its n-th
// item and answers with that transaction's invoice.  No queue lock is
// taken: the n-th item can change between two calls.
//
// Failure policy: bad arguments are answered with an error text and -2; a
// stored transaction that cannot be unpacked is logged and answered with
// the key it is stored under; a queue that cannot be walked is logged and
// answered with 128 and "text {unable to read queue 'NAME'}".
#include "api/bx_api_lookup.h"

#include "api/bx_api_xact.h"
#include "support/qor_log.h"
#include "support/qor_util.h"

extern "C" {

int bx_lookup(bx_session vsess, int type, int itemnum) {
    if (!vsess) return BX_UNINIT;
    vsess->apitext[0] = '\0';
    if (itemnum < 1) {
        qor_field_set(vsess->apitext, "Error: item number must be at least 1");
        return BX_SYNTAX;
    }
    // One queue: a status value of exactly one bit.
    if (!bx_queue_def_of(type)) {
        qor_field_set(vsess->apitext, "Error: invalid type");
        return BX_SYNTAX;
    }
    bx_queue q = bx_api_queue(vsess, type, "bx_lookup");
    if (!q) return BX_FAILED;
    bx_queue_item item = bx_queue_nth_item(q, static_cast<unsigned>(itemnum));
    if (!item && q->lasterr) {
        qor_log_errf(QOR_LOG_NONFATAL, "bx_lookup: queue '%s' cannot be read", q->qname);
        bx_appendf(vsess, "text {unable to read queue '%s'}", q->qname);
        return BX_FAILED;
    }
    if (!item) {
        qor_field_set(vsess->apitext, "NONE");
        return BX_OK;
    }
    _bx_xaction x;
    if (bx_api_fetch(q, item, &x) < 1) {
        qor_logf(QOR_LOG_NONFATAL, "Problem unpacking transaction %s", item->primary_key);
        qor_field_set(vsess->apitext, item->primary_key);
    } else {
        qor_field_set(vsess->apitext, x.data.retail.invoice);
    }
    bx_queue_item_close(q, item);
    return BX_OK;
}

}  // extern "C"
