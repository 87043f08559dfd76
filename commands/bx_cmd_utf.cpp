// bx_cmd_utf: the UTF command "resend" moves every transaction of one
// upload batch from the "bad" queue back to "ready", so that the daemon
// uploads the batch again.  The UTF setup chains it in front of the
// handler it found (bx_cmd_utf_install).
//
// The "bad" queue's lock is held for the whole walk, so neither the daemon
// nor another session changes that queue meanwhile.  Each transaction is
// moved as it is stored (bx_queue_move): it leaves "bad" only after its
// copy is stored in "ready", a crash in between is finished by the next
// session, and any failure stops the walk, so no transaction is uploaded
// twice.
//
// Failure policy: a missing argument and an empty batch are answered, not
// logged.  An item that cannot be read is logged and left in "bad"; an
// unopened queue, a queue that cannot be counted, a failed or busy lock and
// a failed store are logged and answered with BX_FAILED; a transaction
// stored in "ready" but not removed from "bad" stops the walk with
// BX_ACTION.
#include "commands/bx_cmd_utf.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include "api/bx_api_xact.h"
#include "queue/bx_queue_files.h"
#include "queue/bx_spool.h"
#include "commands/bx_command.h"
#include "support/qor_log.h"
#include "support/qor_util.h"

namespace {

// The argument's leading decimal number, 0 when it has none.
int batch_number(const char *text) {
    return static_cast<int>(std::clamp(strtol(text, nullptr, 10), long{INT_MIN}, long{INT_MAX}));
}

int resend(bx_session s, const char *argval) {
    s->apitext[0] = '\0';
    if (!argval) {
        bx_settext(s, "text {the resend command requires a batch number}");
        return BX_SYNTAX;
    }
    int batch = batch_number(argval);
    bx_queue bad = bx_api_queue(s, BX_STAT_BAD, "bx_cmd_utf_resend");
    bx_queue ready = bx_api_queue(s, BX_STAT_READY, "bx_cmd_utf_resend");
    if (!bad || !ready) {
        bx_appendf(s, "text {unable to open %s queue}", bx_stat2str(bad ? BX_STAT_READY : BX_STAT_BAD));
        return BX_FAILED;
    }
    bx_queue_lock lock(bad);
    if (!lock.held()) {
        qor_log_errf(QOR_LOG_NONFATAL, "Unable to lock database to resend batch %d", batch);
        bx_settext(s, "text {unable to lock database}");
        return BX_FAILED;
    }

    // One walk of "bad" picks the batch's transactions, oldest first, and
    // keeps them: the queue lock held throughout lets nothing change them
    // before they are moved.
    struct Member {
        bx_queue_item_ptr item;
        std::string invoice;  // as the record names it, for the log
    };
    std::vector<Member> members;
    bool walked = bxq::walk_queue(bad, [&](uint32_t, bx_queue_item raw) {
        bx_queue_item_ptr item(raw);
        if (!item) return true;
        _bx_xaction x;
        if (bx_api_fetch(bad, item.get(), &x) < 1)
            qor_logf(QOR_LOG_NONFATAL, "Problem unpacking transaction %s", item->primary_key);
        else if (x.bnum == batch)
            members.push_back({std::move(item), x.data.retail.invoice});
        return true;
    });
    if (!walked) {
        qor_log_errf(QOR_LOG_NONFATAL, "Unable to read the bad queue to resend batch %d", batch);
        bx_settext(s, "text {unable to read the bad queue}");
        return BX_FAILED;
    }
    int moved = 0;
    int code = BX_OK;
    for (Member &m : members) {
        bx_queue_item item = m.item.release();
        const char *invoice = m.invoice.c_str();
        bx_moved how = bx_queue_move(bad, ready, item, item->buf, item->size);
        if (how == bx_moved::moved) {
            moved++;
            continue;
        }
        if (how == bx_moved::undeleted) {
            qor_logf(QOR_LOG_NONFATAL, "Transaction %s is stored in queue 'ready' but not removed from 'bad'",
                     invoice);
            bx_settext(s, BX_TEXT_UNREMOVED);
            code = BX_ACTION;
        } else if (how == bx_moved::unstored) {
            qor_logf(QOR_LOG_NONFATAL, "Unable to insert transaction %s into database", invoice);
            bx_settext(s, "text {unable to store transaction in the ready queue}");
            code = BX_FAILED;
        } else {
            qor_log_errf(QOR_LOG_NONFATAL, "Unable to lock queue 'ready' to resend batch %d", batch);
            bx_settext(s, "text {unable to lock database}");
            code = BX_FAILED;
        }
        break;
    }
    if (moved == 0 && code == BX_OK) {
        s->apitext[0] = '\0';
        bx_appendf(s, "text {there are no items in the bad queue with batch number %d}", batch);
        code = BX_INVALID;
    }
    if (lock.release() != 0)
        qor_log_errf(QOR_LOG_WARNING, "Unable to unlock database after resending batch %d", batch);
    if (code != BX_OK) return code;
    bx_appendf(s, "text {batch %d is ready for re-uploading -- %d items}", batch, moved);
    return BX_OK;
}

}  // namespace

extern "C" {

int bx_cmd_utf_resend(bx_session s, int cmd, const char *argval) {
    if (!s) return BX_UNINIT;
    if (cmd != BX_CMD_RESEND) return bx_cmd_pass(s, &_dll::resendhandlerslot, cmd, argval);
    return resend(s, argval);
}

void bx_cmd_utf_install(bx_session s) { bx_cmd_chain(s, bx_cmd_utf_resend, &_dll::resendhandlerslot); }

}  // extern "C"
