// Plays the processing daemon's part in tests: moves a stored transaction
// from one queue to another the way the daemon does (under the source
// queue's lock, put into the destination, then delete from the source),
// optionally changing the record and folding a processor result into it.
#ifndef BRIX_TESTS_API_DAEMON_H
#define BRIX_TESTS_API_DAEMON_H

#include <functional>
#include <vector>

#include "queue/bx_queue.h"
#include "session/bx_session.h"
#include "xaction/bx_xaction.h"
#include "xaction/bx_xaction_keydb.h"

namespace testutil {

// Reads the transaction stored under invoice in q; false when absent.
inline bool read_xaction(bx_queue q, const char *invoice, _bx_xaction &x) {
    bx_queue_item item = bx_queue_find_item(q, invoice);
    if (!item) return false;
    std::vector<char> buf(item->size + 1);
    int n = bx_queue_retrieve(q, item, buf.data(), item->size);
    bx_queue_item_close(q, item);
    return n >= 0 && bx_xaction_unpack(buf.data(), &x, n) == 1;
}

inline bool daemon_move(bx_queue from, bx_queue to, const char *invoice,
                        const std::function<void(_bx_xaction &)> &change = nullptr,
                        const _bx_result *result = nullptr) {
    if (bx_queue_lockqueue(from) != 0) return false;
    bool ok = false;
    if (bx_queue_item item = bx_queue_find_item(from, invoice)) {
        std::vector<char> buf(item->size + 1);
        int n = bx_queue_retrieve(from, item, buf.data(), item->size);
        _bx_xaction x;
        if (n >= 0 && bx_xaction_unpack(buf.data(), &x, n) == 1) {
            if (change) change(x);
            if (result) {
                _bx_result r;
                r = *result;
                copy_result_data(&x, &r);
            }
            std::vector<char> out(16384);
            int len = bx_xaction_pack(out.data(), &x, (int)out.size());
            if (len > 0 && bx_queue_put(to, out.data(), len, x.data.retail.invoice) > 0) {
                bx_queue_item_delete(from, item);
                item = nullptr;
                ok = true;
            }
        }
        if (item) bx_queue_item_close(from, item);
    }
    bx_queue_unlockqueue(from);
    return ok;
}

}  // namespace testutil

#endif
