// bx_cmd_rbank: the Royal Bank commands.  "receipt" formats a customer
// receipt for one invoice into the answer text; "initialize" writes the
// terminal-initialisation flag ("INITREQF") that the processing daemon
// shares.  The Royal Bank setup chains receipt in front of initialise in
// front of the handler it found (bx_cmd_rbank_install).
//
// The receipt reads the transaction under the queue store's own index
// locks and takes no queue lock.  The initialise command serialises
// writers of the init flag across processes with an exclusive lock on
// "<qdir>/INITREQF.use.lock", held around the write.
//
// Failure policy: a missing argument or invoice is answered and not
// logged; an unreadable transaction, the init flag's lock file and an
// absent globals queue are logged and answered with their own code and
// text.  The receipt shows the card number only as the key table of the
// stored form allows (its last four digits).
#include "commands/bx_cmd_rbank.h"

#include <cstring>

#include "api/bx_api_xact.h"
#include "commands/bx_command.h"
#include "commands/bx_dll.h"
#include "commands/bx_rbank_dll.h"
#include "queue/qor_fdlib.h"
#include "support/qor_log.h"
#include "support/qor_util.h"
#include "xaction/bx_xaction_keydb.h"

namespace {

// Where a receipt's transaction may lie, in look-up order.
const int kReceiptQueues[] = {BX_STAT_AUTH, BX_STAT_REVIEW, BX_STAT_DONE, BX_STAT_DENIED,
                              BX_STAT_BAD};

struct Name {
    const char *code;
    const char *name;
};
// Account names of the card ranges' service types.
const Name kServices[] = {{"V ", "VISA"},         {"M ", "MASTERCARD"},
                          {"DC", "DINERS CLUB"},  {"AX", "AMERICAN EXPRESS"},
                          {"C1", "ENROUTE"}};

struct TypeName {
    int code;
    const char *name;
};
// Transaction types by the requested operation.
const TypeName kTypes[] = {{BX_CODE_AUTH, "Pre-Auth"},
                           {BX_CODE_SALE, "Pre-Auth Advice"},
                           {BX_CODE_REVERSE, "Reversal"},
                           {BX_CODE_RETURN, "Refund"},
                           {BX_CODE_VOID, "Refund Correction"}};

const char *account_name(const _bx_dll_range *range) {
    if (range)
        for (const Name &n : kServices)
            if (strncmp(range->servicetype, n.code, sizeof range->servicetype) == 0) return n.name;
    return "UNKNOWN";
}

const char *type_name(int code, int status) {
    // A sale still in auth or denied is the pre-authorisation itself.
    if (code == BX_CODE_SALE && (status == BX_STAT_AUTH || status == BX_STAT_DENIED))
        return "Pre-Auth";
    for (const TypeName &t : kTypes)
        if (t.code == code) return t.name;
    return "Unknown";
}

// The merchant comment with its escapes resolved: backslash n is a line
// break, a backslash before any other character stands for that
// character, a backslash at the very end is dropped.
void append_comment(bx_session s) {
    const char *in = s->mercomment;
    size_t len = strnlen(in, sizeof s->mercomment);
    char out[sizeof s->mercomment];
    size_t o = 0;
    for (size_t i = 0; i < len; i++) {
        char c = in[i];
        if (c == '\\') {
            if (++i == len) break;
            c = in[i] == 'n' ? '\n' : in[i];
        }
        out[o++] = c;
    }
    out[o] = '\0';
    bx_appendf(s, "%s\n\n", out);
}

// The card number as a stored record may show it.
void append_card(bx_session s, const _bx_xaction &x) {
    const char *num = x.acc.card.num;
    char shown[sizeof x.acc.card.num + 8];
    bx_xaction_show(bx_xaction_key_sensitivity("CCNumber"), num, sizeof x.acc.card.num, shown,
                    sizeof shown);
    bx_appendf(s, "Card Number: %s\n", shown);
}

// MMYY as MM/YY; a text of three characters or fewer as it is.
void append_expiry(bx_session s, const char *edate, size_t width) {
    size_t len = strnlen(edate, width);
    if (len > 3)
        bx_appendf(s, "Expiry Date: %.2s/%.*s\n", edate, static_cast<int>(len - 2), edate + 2);
    else
        bx_appendf(s, "Expiry Date: %.*s\n", static_cast<int>(len), edate);
}

// A YYMMDDhhmmss stamp as "7 Mar '00, 14:30:05".  A stamp that is short,
// not all digits or of no month leaves the line empty.
void append_stamp(bx_session s, const char *stamp, size_t width) {
    bx_appendf(s, "Date/Time: ");
    if (strnlen(stamp, width) >= 12) {
        int d[12];
        bool digits = true;
        for (int i = 0; i < 12; i++) {
            digits = digits && stamp[i] >= '0' && stamp[i] <= '9';
            d[i] = stamp[i] - '0';
        }
        int month = d[2] * 10 + d[3];
        if (digits && month >= 1 && month <= 12)
            bx_appendf(s, "%d %s '%02d, %.2s:%.2s:%.2s", d[4] * 10 + d[5],
                       qor_util_shortmonths[month - 1], d[0] * 10 + d[1], stamp + 6, stamp + 8,
                       stamp + 10);
    }
    bx_appendf(s, "\n");
}

void write_receipt(bx_session s, int status, const _bx_xaction &x, const _bx_dll_range *range) {
    bx_appendf(s, "text {ok} status {%s} receipt {\n", bx_stat2str(status));
    bx_appendf(s, "%s\n%s\n%s, %s %s\n\n", s->mercname, s->streetname, s->cityname, s->statename,
               s->citycode);
    if (s->mercomment[0]) append_comment(s);
    bx_appendf(s, "Purchaser: %s\n", x.acc.check.accname);
    bx_appendf(s, "Description: %s\n\n", x.acc.check.product);
    bx_appendf(s, "Type: %s\n\n", type_name(x.subtype.code, status));
    bx_appendf(s, "Amount: $ %d.%02d CDN\n", x.amount / 100, x.amount % 100);
    bx_appendf(s, "Acct: %s\n", account_name(range));
    append_card(s, x);
    append_expiry(s, x.acc.card.edate, sizeof x.acc.card.edate);
    append_stamp(s, x.result.datestamp, sizeof x.result.datestamp);
    bx_appendf(s, "Reference #: %s  %03d%03d%03d0 M\n", s->devid, 1, x.bnum, x.inum);
    bx_appendf(s, "Author #: %s\n\n", x.authcode);
    if (x.hasresult)
        bx_appendf(s, "%s  %s  %s\n", x.result.rcodeiso,
                   x.result.rcode == 0 ? "Approved - Thank You" : "Transaction Not Approved",
                   x.result.rcodec);
    bx_appendf(s, "}");
}

int receipt(bx_session s, const char *invoice) {
    s->apitext[0] = '\0';
    if (!invoice) {
        bx_settext(s, "text {the receipt command requires an invoice}");
        return BX_SYNTAX;
    }
    bx_queue q = nullptr;
    bx_queue_item item = nullptr;
    int status = BX_STAT_NONE;
    for (int st : kReceiptQueues) {
        q = bx_api_queue(s, st, "bx_cmd_rbank_receipt");
        if (q && (item = bx_queue_find_item(q, invoice))) {
            status = st;
            break;
        }
        if (q && q->lasterr) {
            qor_logf(QOR_LOG_NONFATAL, "bx_cmd_rbank_receipt: queue '%s' cannot be searched for %s", q->qname,
                     invoice);
            bx_settext(s, BX_TEXT_UNSEARCHABLE);
            return BX_FAILED;
        }
    }
    if (!item) {
        bx_settext(s, "text {bad invoice}");
        return BX_BADINVOICE;
    }
    _bx_xaction x;
    bool read = bx_api_read(s, q, item, &x, invoice);
    bx_queue_item_close(q, item);
    if (!read) return BX_FAILED;
    // The account name comes from the card ranges the daemon shares.
    if (s->dll.ranges.valid == 0 && !bx_dll_sync(s, bx_dll_key::services)) {
        bx_settext(s, "text {unable to read card ranges}");
        return BX_FAILED;
    }
    write_receipt(s, status, x, bx_rbank_dll_findrange(s, x.acc.card.num));
    return BX_OK;
}

// The init flag's lock file, open (and locked once lock() succeeded) for
// one scope and recorded in the session meanwhile; on every way out it is
// released, closed and forgotten.
class InitFlagLock {
public:
    explicit InitFlagLock(_dll_flags &f, const char *path) : f_(f) {
        f_.needs_init_lockfd = qor_fdlib_createlockfile(path);
        if (f_.needs_init_lockfd < 0) f_.needs_init_lockfd = -1;
    }
    ~InitFlagLock() {
        if (f_.needs_init_lockfd == -1) return;
        if (locked_) qor_fdlib_unlockfd(f_.needs_init_lockfd);
        qor_fdlib_close(f_.needs_init_lockfd);
        f_.needs_init_lockfd = -1;
    }
    InitFlagLock(const InitFlagLock &) = delete;
    InitFlagLock &operator=(const InitFlagLock &) = delete;
    bool open() const { return f_.needs_init_lockfd != -1; }
    bool lock() {
        locked_ = qor_fdlib_lockfd(f_.needs_init_lockfd, QOR_FDLIB_EXCLUSIVE, QOR_FDLIB_WAIT) == 0;
        return locked_;
    }

private:
    _dll_flags &f_;
    bool locked_ = false;
};

int initialise(bx_session s, const char *argval) {
    s->apitext[0] = '\0';
    if (argval) {
        bx_settext(s, "text {the initialize command has no argument}");
        return BX_SYNTAX;
    }
    _dll_flags &f = s->dll.flags;
    f.needs_init_lockfd = -1;
    if (!s->globals) {
        qor_log(QOR_LOG_NONFATAL, "bx_cmd_rbank_init: queue 'globals' is not open");
        bx_settext(s, "text {unable to store init flag}");
        return BX_FAILED;
    }
    char path[sizeof s->qdir + 32];
    snprintf(path, sizeof path, "%.*s/%s.use.lock", static_cast<int>(strnlen(s->qdir, sizeof s->qdir)),
             s->qdir, "INITREQF");
    bool stored;
    {
        InitFlagLock lock(f, path);
        if (!lock.open()) {
            qor_log_errf(QOR_LOG_NONFATAL, "Unable to create lock for init flag %s", path);
            bx_settext(s, "text {unable to create lock for init flag}");
            return BX_NOTDONE;
        }
        if (!lock.lock()) {
            qor_log_errf(QOR_LOG_NONFATAL, "Unable to lock init flag %s", path);
            bx_settext(s, "text {unable to lock init flag}");
            return BX_NOTDONE;
        }
        f.needs_init_valid = 2;
        f.needs_init = 0;
        f.needs_init_time = 0;
        stored = bx_dll_sync(s, bx_dll_key::initreqf);
    }
    f.needs_init_valid = 0;
    if (!stored) {
        bx_settext(s, "text {unable to store init flag}");
        return BX_FAILED;
    }
    return BX_OK;
}

}  // namespace

extern "C" {

int bx_cmd_rbank_receipt(bx_session s, int cmd, const char *argval) {
    if (!s) return BX_UNINIT;
    if (cmd != BX_CMD_RECEIPT) return bx_cmd_pass(s, &_dll::receipthandlerslot, cmd, argval);
    return receipt(s, argval);
}

int bx_cmd_rbank_init(bx_session s, int cmd, const char *argval) {
    if (!s) return BX_UNINIT;
    if (cmd != BX_CMD_INITIALIZE) return bx_cmd_pass(s, &_dll::inithandlerslot, cmd, argval);
    return initialise(s, argval);
}

void bx_cmd_rbank_install(bx_session s) {
    bx_cmd_chain(s, bx_cmd_rbank_init, &_dll::inithandlerslot);
    bx_cmd_chain(s, bx_cmd_rbank_receipt, &_dll::receipthandlerslot);
    _dll_flags &f = s->dll.flags;
    f.needs_init = 0;
    f.needs_init_time = 0;
    f.needs_init_valid = 0;
    f.needs_init_lockfd = -1;
    s->dll.ranges.valid = 0;
    s->dll.ranges.numranges = 0;
}

}  // extern "C"
