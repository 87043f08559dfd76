// bx_api_xact: shared steps of the script-facing operations.  See the
// header.
#include "api/bx_api_xact.h"

#include <new>
#include <vector>

#include "support/qor_log.h"
#include "xaction/bx_xaction_keydb.h"

bx_queue bx_api_queue(bx_session s, int status, const char *op) {
    const bx_queue_def *def = bx_queue_def_of(status);
    if (!def) return nullptr;
    bx_queue q = s->*def->field;
    if (!q) qor_logf(QOR_LOG_NONFATAL, "%s: queue '%s' is not open", op, bx_stat2str(status));
    return q;
}

int bx_api_fetch(bx_queue q, bx_queue_item item, bx_xaction x) {
    if (!q || !item || item->size < 0 || !item->buf) {
        *x = {};
        return -1;
    }
    // The item's own copy of its data is unpacked in place; the unpack
    // zero-fills x first.
    return bx_xaction_unpack(item->buf, x, item->size);
}

bool bx_api_read(bx_session s, bx_queue q, bx_queue_item item, bx_xaction x, const char *invoice) {
    if (bx_api_fetch(q, item, x) >= 1) return true;
    qor_logf(QOR_LOG_NONFATAL, "Problem unpacking transaction %s", invoice);
    qor_field_set(s->apitext, "text {unable to unpack transaction}");
    return false;
}

int bx_api_pack(bx_xaction x, char *buf, const char *invoice) {
    int len = bx_xaction_pack(buf, x, BX_PACK_SIZE);
    if (len > 0) return len;
    qor_logf(QOR_LOG_NONFATAL, "Unable to prepare transaction %s for storage", invoice);
    return 0;
}

bx_store bx_api_store(bx_queue q, bx_xaction x, const char *invoice) {
    char buf[BX_PACK_SIZE];
    int len = bx_api_pack(x, buf, invoice);
    if (len <= 0) return bx_store::unpackable;
    if (bx_queue_put(q, buf, len, x->data.retail.invoice) < 1) {
        qor_logf(QOR_LOG_NONFATAL, "Unable to insert transaction %s into database", invoice);
        return bx_store::unstored;
    }
    return bx_store::stored;
}
