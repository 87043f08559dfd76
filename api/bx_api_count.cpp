// bx_api_count: bx_count counts each chosen queue under its queue lock,
// one queue at a time, and labels each count in the answer text.
//
// Failure policy: a queue the session could not open is logged and left
// out of the answer and the total; a failed lock is logged by the queue
// store and the queue is counted anyway.
#include "api/bx_api_count.h"

#include "api/bx_api_xact.h"

extern "C" {

int bx_count(bx_session vsess, int type) {
    if (!vsess) return BX_UNINIT;
    vsess->apitext[0] = '\0';
    int total = 0;
    for (const bx_queue_def &def : bx_queue_defs) {
        if (!(type & def.status)) continue;
        bx_queue q = bx_api_queue(vsess, def.status, "bx_count");
        if (!q) continue;
        int n;
        {
            bx_queue_lock lock(q);
            n = bx_queue_count(q);
        }
        if (n < 0) n = 0;
        bx_appendf(vsess, def.count_label, n);
        total += n;
    }
    return total;
}

}  // extern "C"
