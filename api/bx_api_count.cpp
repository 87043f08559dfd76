// bx_api_count: bx_count counts each chosen queue under its queue lock,
// one queue at a time, and labels each count in the answer text.
//
// Failure policy: a queue the session could not open is logged and left
// out of the answer and the total; a failed lock is logged by the queue
// store and the queue is counted anyway.
#include "api/bx_api_count.h"

#include "api/bx_api_xact.h"

namespace {

// Answer labels in status-bit order.
const char *const kLabels[8] = {"new {%d} ",    "authorized {%d} ",   "ready {%d} ",
                                "done {%d} ",   "unauthorized {%d} ", "denied {%d} ",
                                "review {%d} ", "bad {%d} "};

}  // namespace

extern "C" {

int bx_count(bx_session vsess, int type) {
    if (!vsess) return -7;
    vsess->apitext[0] = '\0';
    int total = 0;
    for (int i = 0; i < 8; i++) {
        const bx_queue_slot &slot = bx_queue_slots[i];
        if (!(type & slot.status)) continue;
        bx_queue q = bx_api_queue(vsess, slot.status, "bx_count");
        if (!q) continue;
        int n;
        {
            bx_queue_lock lock(q);
            n = bx_queue_count(q);
        }
        if (n < 0) n = 0;
        bx_appendf(vsess, kLabels[i], n);
        total += n;
    }
    return total;
}

}  // extern "C"
