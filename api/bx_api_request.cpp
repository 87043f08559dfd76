// bx_api_request: the shared engine of the processing requests.
//
// A request moves one transaction from the queue that holds it into a queue
// the processing daemon works from ("unauth" for on-line authorisations and
// reversals, "ready" for the next batch upload), once the invoice's state
// and the clearing protocol's validator allow it.  Everything that differs
// between the five requests is data: the transition table (the invoice's
// status against the request: proceed from that status's queue, or refuse
// with a code and text) and each request's changes (validator slot,
// subtype codes, time stamp, destination).
//
// Locks: the status lookup runs unlocked.  The source queue's lock is then
// taken before the item is read and held until after it is deleted; the
// destination's lock is taken only around the store, nested inside, and
// without waiting (bx_queue_move): the daemon moves the other way between
// auth and unauth, and between done and ready.  The item is found again
// under the source lock and only that find counts, so a transaction
// another process moved or deleted in between is answered as unknown.  The
// move is journalled: the source item is deleted only once its copy is
// stored, and a crash in between is finished by the next session.
//
// A transaction that leaves any queue but "new" has been through the
// processor already; its CVV2 value and track data are blanked as it goes.
//
// Failure policy: refusals (by state or by the validator) change nothing
// and are not logged.  An unopened queue, a failed or busy lock, a queue
// that cannot be searched, a stored transaction that cannot be read and a
// failed store are logged and answered with BX_FAILED and a text; the
// transaction stays in its source queue as it was.  A transaction stored
// in its destination whose source copy could not be removed is answered
// with BX_ACTION and BX_TEXT_UNREMOVED: the request has taken effect, and
// the stale copy goes at the next recovery.
#include "api/bx_api_request.h"

#include <ctime>
#include <iterator>
#include <memory>

#include "api/bx_api_status.h"
#include "api/bx_api_xact.h"
#include "queue/bx_spool.h"
#include "support/qor_log.h"
#include "support/qor_util.h"
#include "validate/bx_val.h"
#include "xaction/bx_xaction_keydb.h"

namespace {

// --- What each request changes ----------------------------------------------

constexpr int kKeep = -1;         // subtype field left as it is
// A settlement request (sale, return) marks the record for batch upload.
constexpr int kPtypeSettle = 3;
constexpr int kTypeSettle = 2;

using Times = decltype(_bx_xaction::time);

struct Change {
    const char *op;                 // operation name, for the log
    bx_validator _val::*validator;  // the session's validator slot
    int ptype, type, code;          // new subtype codes, kKeep for none
    time_t Times::*stamp;           // time stamp set to now
    int destination;                // status bit of the destination queue
};

constexpr int kRequests = 5;

// In bx_request order.  An authorisation keeps its code: a new card or
// cheque record already carries BX_CODE_AUTH.
constexpr Change kChanges[kRequests] = {
    {"bx_auth", &_val::bx_auth, kKeep, kKeep, kKeep, &Times::creat, BX_STAT_UNAUTH},
    {"bx_sale", &_val::bx_sale, kPtypeSettle, kTypeSettle, BX_CODE_SALE, &Times::ready,
     BX_STAT_READY},
    {"bx_return", &_val::bx_return, kPtypeSettle, kTypeSettle, BX_CODE_RETURN, &Times::ready,
     BX_STAT_READY},
    {"bx_reverse", &_val::bx_reverse, kKeep, kKeep, BX_CODE_REVERSE, &Times::ready,
     BX_STAT_UNAUTH},
    {"bx_void", &_val::bx_void, kKeep, kKeep, BX_CODE_VOID, &Times::ready, BX_STAT_READY},
};

void apply(const Change &c, _bx_xaction &x) {
    if (c.ptype != kKeep) x.subtype.ptype = c.ptype;
    if (c.type != kKeep) x.subtype.type = c.type;
    if (c.code != kKeep) x.subtype.code = c.code;
    x.time.*c.stamp = time(nullptr);
    x.sent = 0;
}

// --- Which state allows which request ---------------------------------------

struct Cell {
    int code;          // BX_OK: proceed with the row's queue as the source
    const char *text;  // the refusal's answer
};

constexpr Cell kGo = {BX_OK, nullptr};
constexpr const char *kNoSuch = "text {no such transaction}";
constexpr Cell kUnknown = {BX_BADINVOICE, kNoSuch};
constexpr Cell kNotValid = {BX_DUPLICATE, "text {not valid for this transaction}"};
constexpr Cell kNotReturnable = {BX_BADINVOICE, "text {invalid operation for that transaction}"};
constexpr Cell kNotVoidable = {BX_NOTVOIDABLE, "text {not in voidable state}"};
constexpr Cell kPending = {BX_DUPLICATE, "text {invoice already pending upload}"};
constexpr Cell kProcessed = {BX_BADINVOICE, "text {already processed}"};
constexpr Cell kAwaiting = {BX_BADINVOICE, "text {awaiting authorization}"};
constexpr Cell kDenied = {BX_BADINVOICE, "text {authorization denied}"};
constexpr Cell kUnrecognized = {BX_BADINVOICE, "text {status of invoice not recognized}"};

struct Row {
    int status;
    Cell cells[kRequests];  // in bx_request order
};

// Columns: auth, sale, return, reverse, void.  The last row answers for
// "bad" and for any status not listed.
constexpr Row kTransitions[] = {
    {BX_STAT_NONE, {kUnknown, kUnknown, kUnknown, kUnknown, kUnknown}},
    {BX_STAT_NEW,
     {kGo, kGo, kGo, {BX_BADINVOICE, "text {not yet authorized}"}, kNotVoidable}},
    {BX_STAT_AUTH, {kNotValid, kGo, kNotReturnable, kGo, kNotVoidable}},
    {BX_STAT_READY,
     {kNotValid, kPending, kNotReturnable, {BX_BADINVOICE, "text {already marked for sale}"},
      kPending}},
    {BX_STAT_DONE, {kNotValid, kProcessed, kNotReturnable, kProcessed, kGo}},
    {BX_STAT_UNAUTH, {kNotValid, kAwaiting, kNotReturnable, kAwaiting, kNotVoidable}},
    {BX_STAT_DENIED, {kNotValid, kDenied, kNotReturnable, kDenied, kNotVoidable}},
    {BX_STAT_REVIEW, {kNotValid, kGo, kNotReturnable, kGo, kNotVoidable}},
    {BX_STAT_BAD, {kNotValid, kUnrecognized, kNotReturnable, kUnrecognized, kNotVoidable}},
};

// Only a status that names a queue can be a source, and no request stays
// in its own queue.
static_assert([] {
    for (const Row &row : kTransitions)
        for (int r = 0; r < kRequests; r++)
            if (row.cells[r].code == BX_OK &&
                (row.status == BX_STAT_NONE || row.status == BX_STAT_BAD ||
                 row.status == kChanges[r].destination))
                return false;
    return true;
}(), "every accepted request moves a transaction from one queue to another");

const Cell &transition(int status, bx_request request) {
    const Row *row = &kTransitions[std::size(kTransitions) - 1];
    for (const Row &r : kTransitions)
        if (r.status == status) row = &r;
    return row->cells[static_cast<int>(request)];
}

// --- The move ---------------------------------------------------------------

int answer(bx_session s, int code, const char *text) {
    qor_field_set(s->apitext, text);
    return code;
}

// Everything from the source lock on.
int move(bx_session s, const char *invoice, const Change &c, bx_queue from, bx_queue to) {
    bx_queue_lock lock(from);
    if (!lock.held()) {
        qor_log_errf(QOR_LOG_NONFATAL, "%s: Unable to lock queue '%s' for transaction %s", c.op,
                     from->qname, invoice);
        return answer(s, BX_FAILED, "text {unable to lock database}");
    }
    // Gone since the status lookup: another process moved or deleted it.
    bx_queue_item_ptr item(bx_queue_find_item(from, invoice));
    if (!item && from->lasterr) {
        qor_logf(QOR_LOG_NONFATAL, "%s: queue '%s' cannot be searched for transaction %s", c.op,
                 from->qname, invoice);
        return answer(s, BX_FAILED, BX_TEXT_UNSEARCHABLE);
    }
    if (!item) return answer(s, BX_BADINVOICE, kNoSuch);
    _bx_xaction x;
    if (!bx_api_read(s, from, item.get(), &x, invoice)) return BX_FAILED;

    bx_validator validator = s->val.*c.validator;
    if (!validator) validator = bx_val_never;
    if (!validator(s, &x)) return BX_INVALID;
    s->apitext[0] = '\0';

    apply(c, x);
    // Out of any queue but "new" the transaction has been through the
    // processor: its CVV2 and track data cannot be needed again.
    if (from != s->new_) bx_xaction_blank_secrets(&x);
    char buf[BX_PACK_SIZE];
    int len = bx_api_pack(&x, buf, invoice);
    if (len <= 0) return answer(s, BX_FAILED, "text {unable to store transaction}");
    bx_moved moved = bx_queue_move(from, to, item.release(), buf, len);
    if (lock.release() != 0)
        qor_log_errf(QOR_LOG_WARNING, "%s: Unable to unlock queue '%s' after transaction %s", c.op,
                     from->qname, invoice);
    switch (moved) {
    case bx_moved::moved:
        return BX_OK;
    case bx_moved::busy:
    case bx_moved::unlocked:
        qor_log_errf(QOR_LOG_NONFATAL, "%s: Unable to lock queue '%s' for transaction %s", c.op, to->qname,
                     invoice);
        return answer(s, BX_FAILED, "text {unable to lock database}");
    case bx_moved::unstored:
        qor_logf(QOR_LOG_NONFATAL, "Unable to insert transaction %s into database", invoice);
        return answer(s, BX_FAILED, "text {unable to store transaction}");
    case bx_moved::undeleted:
        break;
    }
    qor_logf(QOR_LOG_NONFATAL, "%s: transaction %s is stored in queue '%s' but not removed from queue '%s'",
             c.op, invoice, to->qname, from->qname);
    return answer(s, BX_ACTION, BX_TEXT_UNREMOVED);
}

int request(bx_session s, const char *invoice, bx_request which) {
    const Change &c = kChanges[static_cast<int>(which)];
    int status = bx_api_where(s, invoice);
    if (status < 0) return answer(s, BX_FAILED, BX_TEXT_UNSEARCHABLE);
    const Cell &cell = transition(status, which);
    if (cell.code != BX_OK) return answer(s, cell.code, cell.text);

    bx_queue from = bx_api_queue(s, status, c.op);
    if (!from) return answer(s, BX_FAILED, "text {unable to lock database}");
    bx_queue to = bx_api_queue(s, c.destination, c.op);
    if (!to) return answer(s, BX_FAILED, "text {unable to store transaction}");
    return move(s, invoice, c, from, to);
}

}  // namespace

int bx_api_request(bx_session vsess, const char *invoice, bx_request which) noexcept {
    if (!vsess) return BX_UNINIT;
    vsess->apitext[0] = '\0';
    if (!invoice) invoice = "";
    try {
        return request(vsess, invoice, which);
    } catch (...) {
        // Only a protocol validator may throw; the guards have released
        // the locks and the item, and nothing was moved.
        qor_logf(QOR_LOG_NONFATAL, "%s: validator failed on transaction %s",
                 kChanges[static_cast<int>(which)].op, invoice);
        return answer(vsess, BX_FAILED, "text {unable to validate transaction}");
    }
}
