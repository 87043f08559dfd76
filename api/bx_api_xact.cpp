// bx_api_xact: shared steps of the script-facing operations.  See the
// header.
#include "api/bx_api_xact.h"

#include <new>
#include <vector>

#include "support/qor_log.h"
#include "xaction/bx_xaction_keydb.h"

const bx_queue_slot bx_queue_slots[8] = {
    {1, "new", &_bx_session::new_},        {2, "auth", &_bx_session::auth},
    {4, "ready", &_bx_session::ready},     {8, "done", &_bx_session::done},
    {16, "unauth", &_bx_session::unauth},  {32, "denied", &_bx_session::denied},
    {64, "review", &_bx_session::review},  {128, "bad", &_bx_session::bad},
};

bx_queue bx_api_queue(bx_session s, int status, const char *op) {
    for (const bx_queue_slot &slot : bx_queue_slots) {
        if (slot.status != status) continue;
        bx_queue q = s->*slot.field;
        if (!q) qor_logf(QOR_LOG_NONFATAL, "%s: queue '%s' is not open", op, slot.name);
        return q;
    }
    return nullptr;
}

int bx_api_fetch(bx_queue q, bx_queue_item item, bx_xaction x) {
    *x = {};
    if (!item || item->size < 0) return -1;
    try {
        std::vector<char> buf(static_cast<size_t>(item->size) + 1);
        int n = bx_queue_retrieve(q, item, buf.data(), item->size);
        if (n < 0) return -1;
        return bx_xaction_unpack(buf.data(), x, n);
    } catch (const std::bad_alloc &) {
        return -1;
    }
}

bx_store bx_api_store(bx_queue q, bx_xaction x, const char *invoice) {
    char buf[BX_PACK_SIZE];
    int len = bx_xaction_pack(buf, x, sizeof buf);
    if (len <= 0) {
        qor_logf(QOR_LOG_NONFATAL, "Unable to prepare transaction %s for storage", invoice);
        return bx_store::unpackable;
    }
    if (bx_queue_put(q, buf, len, x->data.retail.invoice) < 1) {
        qor_logf(QOR_LOG_NONFATAL, "Unable to insert transaction %s into database", invoice);
        return bx_store::unstored;
    }
    return bx_store::stored;
}
