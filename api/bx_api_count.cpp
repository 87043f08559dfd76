// bx_api_count: bx_count counts each chosen queue under its queue lock,
// one queue at a time, and labels each count in the answer text.
//
// Failure policy: a queue the session could not open is logged and left
// out of the answer and the total.  A queue that cannot be locked or
// counted makes the whole count fail: -1, logged, with "text {unable to
// count queue 'NAME'}" as the answer, since a total that silently leaves
// out a queue would be taken for the truth.
#include "api/bx_api_count.h"

#include "api/bx_api_xact.h"
#include "support/qor_log.h"

extern "C" {

int bx_count(bx_session vsess, int type) {
    if (!vsess) return BX_UNINIT;
    vsess->apitext[0] = '\0';
    int total = 0;
    for (const bx_queue_def &def : bx_queue_defs) {
        if (!(type & def.status)) continue;
        bx_queue q = bx_api_queue(vsess, def.status, "bx_count");
        if (!q) continue;
        int n = -1;
        {
            bx_queue_lock lock(q);
            if (lock.held()) n = bx_queue_count(q);
        }
        if (n < 0) {
            qor_log_errf(QOR_LOG_NONFATAL, "bx_count: queue '%s' cannot be counted", q->qname);
            vsess->apitext[0] = '\0';
            bx_appendf(vsess, "text {unable to count queue '%s'}", q->qname);
            return -1;
        }
        bx_appendf(vsess, def.count_label, n);
        total += n;
    }
    return total;
}

}  // extern "C"
