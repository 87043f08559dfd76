// brix-demod: a demonstration processing daemon for one merchant
// configuration.
//
// It plays the processor's side of the spool queues with the same files,
// formats and locks as the real daemon, so that merchants can develop
// against it and the end-to-end tests can drive every queue.  It never
// dials anyone: each outcome is fixed by the transaction itself (the test
// triggers below), never drawn at random.
//
//   unauth  an authorisation becomes a sale ticket in "auth" (result
//           "APPROVED" and a six-digit code), or goes to "denied" or
//           "review"; a reversal goes to "done" ("REVERSED").
//   ready   sales, returns and voids are uploaded as one batch: each gets
//           the batch number (the "BATCHNUM" state record), an item number
//           and a result, and moves to "done" -- or, when the batch is
//           rejected, the whole batch moves to "bad" for a resend.
//           Batch numbers run from 1 to 999, then start again at 1.
//   Any other request found in either queue goes to "bad" ("UNSUPPORTED
//   REQUEST").  An ACH record, a sale from the start, is authorised like
//   any other.  The server report follows the on-line queue (dialing,
//   authorizing INVOICE, hanging up, idle, stopped), the upload report the
//   batches ("uploading batch N", then "batch N settled: K items").
//
// Test triggers:
//   cents of the amount .01  an authorisation is declined ("denied")
//                       .02  an authorisation is referred ("review")
//                       .03  a batch holding the item is rejected at its
//                            first upload ("bad"); once resent it settles
//   AVS ZIP "9999c"          AVS result code c (upper-cased); otherwise by
//                            what was given: address and 9-character ZIP X,
//                            address and shorter ZIP Y, address alone A,
//                            9-character ZIP alone W, shorter ZIP alone Z,
//                            neither (both filtered away) N
//   CVV2 value 900..904      CVV2 result N, P, S, U, X; any other value M;
//                            "none" P, "illegible" U, "notprinted" S
// The authorisation code and retrieval reference are digits of a hash of
// the invoice and the amount, so a transaction always gets the same ones.
// A sale or return settled without an authorisation code is given one, as
// the processor's approval of the item: a settled Royal Bank return can
// only be voided when it carries one.
//
// Every move goes through the queue store's journalled move
// (bx_queue_move): the source queue's lock is held throughout, the item is
// first checked to be still the one read (same number, same bytes), the
// destination's lock is tried without waiting for long (a request moving
// the other way holds it while it tries ours), and the source copy goes
// only once the new one is stored.  A destination that stays busy is tried
// again at the next poll.  Before each poll the daemon finishes what
// crashed processes left in the spool's journal (bx_spool_recover); a copy
// whose move on is still journalled (stored beyond, not yet removed) is
// never taken up again.  Every record the daemon stores has been through
// the processor: its CVV2 value and track data are blanked
// (bx_xaction_blank_secrets); the results stay.
// The BATCHNUM read-increment-write is safe because one daemon serves a
// spool at a time ("brix-demod.lock" in the data directory); when the
// record cannot be read or written back, the batch waits in "ready" and no
// number is ever given out twice.
//
// Signals: SIGTERM, SIGINT and SIGHUP ask it to stop.  They stay blocked
// while it works, so none interrupts a lock wait, a move or a file call;
// one that arrives stays pending and is taken between moves and in every
// pause (the poll interval and the demonstration delays), which it cuts
// short.  A batch once started is finished, without its delays.
//
// Demonstration delays (DemoDelayDial, DemoDelayTransaction,
// DemoDelayHangup: "min,max" seconds) each take the values from min to max
// in turn.  Each bound is taken within 0..3600 seconds: a longer pause
// serves no demonstration, and a bound outside is logged once at start.
//
// Failure policy: a configuration that cannot be opened, or a spool that
// another daemon serves, is one line on standard error and exit status 1;
// a malformed command line exit status 2.  Everything later is logged
// through qor_log (-v also echoes it to standard error) and the daemon
// goes on: an item it cannot read, unpack or move is left where it is, and
// a queue it cannot count or read is left alone for that poll.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iterator>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "api/bx_api_init.h"
#include "api/bx_api_xact.h"
#include "commands/bx_dll.h"
#include "queue/bx_queue_files.h"
#include "queue/bx_spool.h"
#include "queue/qor_fdlib.h"
#include "session/bx_report.h"
#include "support/qor_util.h"
#include "tools/tool_common.h"
#include "xaction/bx_xaction_keydb.h"
#include "xaction/bx_xaction_retail.h"

namespace {

constexpr char kProg[] = "brix-demod";
constexpr int kExitOk = 0;
constexpr int kExitBad = 1;
constexpr int kExitUsage = 2;

constexpr char kUsage[] =
    "usage: brix-demod -c CONFIG [--once] [-v] [-i SECONDS]\n"
    "       brix-demod -h | --help\n"
    "\n"
    "Demonstration processing daemon for the merchant configuration CONFIG.\n"
    "  -c, --config CONFIG   the configuration, found by name as bx_init finds it\n"
    "  --once                process what is waiting, then exit\n"
    "  -i, --interval SECS   pause between polls (default 2, decimals allowed)\n"
    "  -v, --verbose         echo log lines to standard error\n"
    "Stops between moves on SIGTERM, SIGINT or SIGHUP.\n"
    "Exit status: 0 success, 1 configuration or spool unusable, 2 usage error.\n";

constexpr char kLockName[] = "brix-demod.lock";
constexpr long kMoveGapNs = 5000000;     // pause after each move, 5 ms
constexpr int kLongestDelay = 3600;  // seconds: bound of each demonstration delay

// The demonstration delays: configuration key and bounds in the session.
struct DelayRow {
    const char *key;
    int _dll_delays::*min;
    int _dll_delays::*max;
};
constexpr DelayRow kDelays[] = {
    {"DemoDelayDial", &_dll_delays::dialmin, &_dll_delays::dialmax},
    {"DemoDelayTransaction", &_dll_delays::transmin, &_dll_delays::transmax},
    {"DemoDelayHangup", &_dll_delays::hangupmin, &_dll_delays::hangupmax},
};
enum DelayKind { kDial, kTransact, kHangUp };

// --- Test triggers -----------------------------------------------------------

constexpr int kDeclineCents = 1;
constexpr int kReviewCents = 2;
constexpr int kRejectCents = 3;

// AVS result without a trigger ZIP, by what the merchant gave.
struct AvsRule {
    bool address;             // an AVS street address was given
    int zip;                  // 0 none, 9 nine characters, 5 any other length
    char code;
};
constexpr AvsRule kAvsRules[] = {
    {true, 9, 'X'}, {true, 5, 'Y'}, {true, 0, 'A'}, {false, 9, 'W'}, {false, 5, 'Z'}, {false, 0, 'N'},
};

// CVV2 result by the merchant's CVV2 status (1 none, 3 illegible, 4 not
// printed) or, for a value (status 2), by the value.
constexpr struct {
    int status;
    char code;
} kCvv2ByStatus[] = {{1, 'P'}, {3, 'U'}, {4, 'S'}};
constexpr struct {
    const char *value;
    char code;
} kCvv2ByValue[] = {{"900", 'N'}, {"901", 'P'}, {"902", 'S'}, {"903", 'U'}, {"904", 'X'}};
constexpr char kCvv2Match = 'M';

// Results: destination, text, ISO and numeric response code.
struct Answer {
    int dest;                 // BX_STAT_*
    const char *text;
    const char *iso;
    int rcode;
};
constexpr Answer kApproved = {BX_STAT_AUTH, "APPROVED", "00", 0};
constexpr Answer kDeclined = {BX_STAT_DENIED, "DECLINED", "05", 5};
constexpr Answer kReferred = {BX_STAT_REVIEW, "CALL CENTER", "01", 1};
constexpr Answer kReversed = {BX_STAT_DONE, "REVERSED", "00", 0};
constexpr Answer kRejected = {BX_STAT_BAD, "BATCH REJECTED", "96", 96};
constexpr Answer kUnsupported = {BX_STAT_BAD, "UNSUPPORTED REQUEST", "12", 12};
// A batch member's result by its request.
constexpr struct {
    int code;
    Answer answer;
} kSettled[] = {
    {BX_CODE_SALE, {BX_STAT_DONE, "SETTLED", "00", 0}},
    {BX_CODE_RETURN, {BX_STAT_DONE, "CREDITED", "00", 0}},
    {BX_CODE_VOID, {BX_STAT_DONE, "VOIDED", "00", 0}},
};

const Answer *settled_answer(int code) {
    for (const auto &s : kSettled)
        if (s.code == code) return &s.answer;
    return nullptr;
}

// --- Signals -------------------------------------------------------------------

// The signals that ask the daemon to stop.  Blocked from the start of main,
// they are only ever taken by sigtimedwait, never delivered to a handler.
sigset_t g_stop_signals;
bool g_stop = false;

void on_signal(int) {}

// Blocks the stop signals and gives them a handler: an inherited "ignore"
// would discard them even while blocked.
void block_stop_signals() {
    sigemptyset(&g_stop_signals);
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&g_stop_signals, sig);
    sigprocmask(SIG_BLOCK, &g_stop_signals, nullptr);
    struct sigaction sa = {};
    sa.sa_handler = on_signal;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaction(sig, &sa, nullptr);
}

// Waits up to `wait` for a stop signal; true (the stop noted and logged)
// when one came.  A null wait only takes a pending one.
bool take_stop_signal(const struct timespec *wait) {
    static const struct timespec kNoWait = {0, 0};
    int sig = sigtimedwait(&g_stop_signals, nullptr, wait ? wait : &kNoWait);
    if (sig <= 0) return false;
    g_stop = true;
    qor_logf(QOR_LOG_INFO, "stop requested (%s)", strsignal(sig));
    return true;
}

// True once a stop has been asked for.
bool stop_requested() { return g_stop || take_stop_signal(nullptr); }

// Sleeps for seconds, or until a stop is asked for.
void pause_for(double seconds) {
    if (!(seconds > 0) || stop_requested()) return;
    struct timespec now, end;
    clock_gettime(CLOCK_MONOTONIC, &now);
    end.tv_sec = now.tv_sec + static_cast<time_t>(seconds);
    end.tv_nsec = now.tv_nsec + static_cast<long>((seconds - std::floor(seconds)) * 1e9);
    if (end.tv_nsec >= 1000000000L) end.tv_sec++, end.tv_nsec -= 1000000000L;
    for (;;) {
        clock_gettime(CLOCK_MONOTONIC, &now);
        struct timespec left = {end.tv_sec - now.tv_sec, end.tv_nsec - now.tv_nsec};
        if (left.tv_nsec < 0) left.tv_sec--, left.tv_nsec += 1000000000L;
        if (left.tv_sec < 0) return;
        if (take_stop_signal(&left) || errno != EINTR) return;  // EINTR: another signal, wait on
    }
}

// --- Results -------------------------------------------------------------------

// FNV-1a over the invoice, the amount and a salt.
uint64_t fingerprint(const _bx_xaction &x, std::string_view salt) {
    uint64_t h = 14695981039346656037ull;
    auto mix = [&h](std::string_view s) {
        for (unsigned char c : s) {
            h ^= c;
            h *= 1099511628211ull;
        }
    };
    mix(x.data.retail.invoice);
    mix(":" + std::to_string(x.amount) + ":");
    mix(salt);
    return h;
}

// The last `width` decimal digits of v, zero-padded.
std::string digits(uint64_t v, int width) {
    uint64_t mod = 1;
    for (int i = 0; i < width; i++) mod *= 10;
    char buf[24];
    snprintf(buf, sizeof buf, "%0*llu", width, static_cast<unsigned long long>(v % mod));
    return buf;
}

std::string authcode_of(const _bx_xaction &x) { return digits(fingerprint(x, "authcode"), 6); }

int cents(const _bx_xaction &x) { return x.amount % 100; }

char avs_code(const _bx_xaction &x) {
    if (!x.data.retail.avsflag) return '\0';
    std::string_view zip = x.data.retail.zip;
    if (zip.size() == 5 && zip.substr(0, 4) == "9999")
        return static_cast<char>(toupper(static_cast<unsigned char>(zip[4])));
    int zipkind = zip.empty() ? 0 : zip.size() == 9 ? 9 : 5;
    for (const AvsRule &r : kAvsRules)
        if (r.address == (x.data.retail.addr[0] != '\0') && r.zip == zipkind) return r.code;
    return '\0';
}

char cvv2_code(const _bx_xaction &x) {
    if (x.cvv2.status == 2) {
        for (const auto &v : kCvv2ByValue)
            if (strcmp(v.value, x.cvv2.val) == 0) return v.code;
        return kCvv2Match;
    }
    for (const auto &s : kCvv2ByStatus)
        if (s.status == x.cvv2.status) return s.code;
    return '\0';
}

// The processor's answer for x.  Without an authorisation code the
// record's own code is kept when the result is folded in.
_bx_result result_for(const _bx_xaction &x, const Answer &a, const std::string &authcode = "") {
    _bx_result r = {};
    std::string text = a.text;
    if (!authcode.empty()) text += " " + authcode;
    qor_field_set(r.text, text.c_str());
    qor_field_set(r.rcodeiso, a.iso);
    qor_field_set(r.rcodec, a.iso);
    r.rcode = a.rcode;
    r.acode = a.rcode;
    qor_field_set(r.authcode, authcode.c_str());
    qor_field_set(r.retref, digits(fingerprint(x, "retref"), 12).c_str());
    time_t now = time(nullptr);
    struct tm tm;
    localtime_r(&now, &tm);
    strftime(r.datestamp, sizeof r.datestamp, "%y%m%d%H%M%S", &tm);
    r.data.retail.avs_code = avs_code(x);
    r.cvv2.code = cvv2_code(x);
    return r;
}

// --- The daemon ------------------------------------------------------------------

// A transaction waiting in a queue, as it was read: its key, item number
// and stored bytes (which identify it when it is moved) and its record.
struct Waiting {
    std::string key;
    uint32_t indexno;
    std::string raw;
    _bx_xaction x;
};

// A demonstration delay bound, taken within 0..kLongestDelay.
int delay_bound(int seconds) { return seconds < 0 ? 0 : seconds > kLongestDelay ? kLongestDelay : seconds; }

class Daemon {
public:
    explicit Daemon(bx_session s) : s_(s), spool_(bx_session_spool(s)) {
        for (const DelayRow &d : kDelays) {
            int min = s_->dll.delays.*d.min, max = s_->dll.delays.*d.max;
            if (min != delay_bound(min) || max != delay_bound(max))
                qor_logf(QOR_LOG_WARNING, "%s %d,%d is out of range: its delays are taken within %d..%d seconds",
                         d.key, min, max, 0, kLongestDelay);
        }
    }

    // One poll: the journal, the on-line queue, then the batch queue.
    void step() {
        if (bx_spool_recover(spool_) < 0)
            log_once(QOR_LOG_NONFATAL, "the journal of spool " + spool_.dir +
                                           " is not settled in full; its records wait for the next poll");
        authorize();
        if (!stop_requested()) upload();
    }
    void report(int type, const std::string &task, const char *current = nullptr) {
        int rc = bx_setreport(s_, type, task.c_str(), current);
        if (rc != BX_OK)
            log_once(QOR_LOG_NONFATAL,
                     std::string("cannot write the ") + reptypes[type] + " report (" + std::to_string(rc) + ")");
    }

private:
    bx_queue queue(int status) { return bx_api_queue(s_, status, kProg); }

    // Logs a line once per run of the daemon: an item that stays where it is
    // would otherwise be reported at every poll.
    void log_once(int level, const std::string &line) {
        if (reported_.size() > 10000) reported_.clear();
        if (reported_.insert(line).second) qor_log(level, line.c_str());
    }

    // The keys whose move out of the queue is still in the spool's journal.
    // Under the queue's lock no move out of it is under way, so such a
    // move was stored beyond the queue but its copy here could not be
    // removed: the copy is stale, and the recovery removes it.  False when
    // the journal cannot be listed.
    bool leaving(const char *queue, std::set<std::string> *keys) {
        std::vector<bx_journal_record> records;
        if (!bx_spool_journal(spool_, &records)) return errno == ENOENT;
        for (const auto &[name, jn] : records)
            if (jn.kind == 'm' && jn.queue == queue) keys->insert(jn.key);
        return true;
    }

    // What waits in the queue, oldest first, read under its lock.  Items
    // that cannot be read, unpacked or moved by their key are logged and
    // left out; a queue that cannot be counted or read yields nothing.
    std::vector<Waiting> snapshot(int status) {
        const char *name = bx_stat2str(status);
        bx_queue q = queue(status);
        std::vector<Waiting> out;
        bx_queue_lock lock(q);
        if (!lock.held()) {
            // Once per run: a volume that lost its quorum would otherwise
            // fill the log at every poll.
            log_once(QOR_LOG_NONFATAL, std::string("cannot lock queue '") + name + "': " + strerror(errno));
            return out;
        }
        std::string in = std::string("queue '") + name + "'";
        std::set<std::string> stale;
        if (!leaving(name, &stale)) {
            log_once(QOR_LOG_NONFATAL, std::string("the journal of spool ") + spool_.dir + " cannot be listed (" +
                                           strerror(errno) + "); queue '" + name + "' left alone in this poll");
            return out;
        }
        // One walk of the queue, oldest first.
        bool walked = bxq::walk_queue(q, [&](uint32_t n, bx_queue_item raw) {
            bx_queue_item_ptr item(raw);
            if (!item) {
                log_once(QOR_LOG_NONFATAL, in + ": item #" + std::to_string(n) + " cannot be read; left in place");
                return true;
            }
            Waiting w{item->primary_key, item->indexno, std::string(item->buf, item->size), {}};
            std::string where = in + ": item #" + std::to_string(w.indexno) + " (" + w.key + ")";
            if (stale.count(w.key)) {
                log_once(QOR_LOG_WARNING, where + " is stored beyond this queue already; left for the recovery");
                return true;
            }
            if (bx_api_fetch(q, item.get(), &w.x) != 1) {
                log_once(QOR_LOG_NONFATAL, where + " cannot be unpacked; left in place");
                return true;
            }
            if (w.key != w.x.data.retail.invoice || !brixtool::is_invoice(w.key)) {
                log_once(QOR_LOG_NONFATAL, where + " holds invoice '" + w.x.data.retail.invoice +
                                               "', not its key; left in place");
                return true;
            }
            out.push_back(std::move(w));
            return true;
        });
        if (!walked) {
            log_once(QOR_LOG_NONFATAL, in + " cannot be read (" + strerror(q->lasterr) + "); left alone in this poll");
            return {};
        }
        return out;
    }

    // Stores x, the changed record of w, in the queue of dest and removes w
    // from the queue of source, once, under the source queue's lock.  The
    // item must still be the one read (same number, same bytes).  The
    // record's CVV2 value and track data are blanked: it has been through
    // the processor.  True when it moved.
    bool move(int source, int dest, const Waiting &w, _bx_xaction x) {
        const char *from = bx_stat2str(source), *to = bx_stat2str(dest);
        const char *key = w.key.c_str();
        bx_xaction_blank_secrets(&x);
        std::string packed(BX_PACK_SIZE, '\0');
        int len = bx_xaction_pack(packed.data(), &x, static_cast<int>(packed.size()));
        if (len <= 0) {
            qor_logf(QOR_LOG_NONFATAL, "cannot pack %s; left in queue '%s'", key, from);
            return false;
        }
        bx_queue src = queue(source), dst = queue(dest);
        bx_queue_lock lock(src);
        if (!lock.held()) {
            qor_log_errf(QOR_LOG_NONFATAL, "cannot lock queue '%s' for %s", from, key);
            return false;
        }
        bx_queue_item_ptr item(bx_queue_find_item(src, key));
        if (!item && src->lasterr) {
            qor_logf(QOR_LOG_NONFATAL, "queue '%s' cannot be searched for %s (%s); left in place", from, key,
                     strerror(src->lasterr));
            return false;
        }
        if (!item || item->indexno != w.indexno ||
            std::string_view(item->buf, static_cast<size_t>(item->size)) != w.raw) {
            qor_logf(QOR_LOG_WARNING, "%s left queue '%s' while it was processed", key, from);
            return false;
        }
        bx_moved moved = bx_queue_move(src, dst, item.release(), packed.data(), len);
        lock.release();
        // A request that holds the destination's lock takes this source's
        // lock only without waiting: a short gap lets it in before the next
        // move takes the lock again.
        struct timespec gap = {0, kMoveGapNs};
        nanosleep(&gap, nullptr);
        switch (moved) {
        case bx_moved::moved:
            return true;
        case bx_moved::busy:
            log_once(QOR_LOG_INFO, std::string("queue '") + to + "' stays busy; " + w.key +
                                       " waits for the next poll");
            return false;
        case bx_moved::unlocked:
            qor_log_errf(QOR_LOG_NONFATAL, "cannot lock queue '%s' for %s; left in queue '%s'", to, key, from);
            return false;
        case bx_moved::unstored:
            qor_logf(QOR_LOG_NONFATAL, "cannot store %s in queue '%s'; left in queue '%s'", key, to, from);
            return false;
        case bx_moved::undeleted:
            // The copy in `to` is the transaction now; its journal record
            // keeps the stale one out of every snapshot until the
            // recovery removes it.
            qor_logf(QOR_LOG_NONFATAL,
                     "%s stored in queue '%s', but its copy in queue '%s' could not be removed; "
                     "the next recovery removes it",
                     key, to, from);
            return true;
        }
        return false;
    }

    // The demonstration delays: each takes the values from its minimum to
    // its maximum in turn, within 0..kLongestDelay seconds.
    void delay(DelayKind kind) {
        const DelayRow &d = kDelays[kind];
        int min = delay_bound(s_->dll.delays.*d.min), max = delay_bound(s_->dll.delays.*d.max);
        if (max < min) max = min;
        unsigned span = static_cast<unsigned>(max - min) + 1;
        pause_for(min + static_cast<int>(turns_[kind]++ % span));
    }

    // The on-line queue: one call for whatever waits; stops between
    // transactions when asked to.
    void authorize() {
        std::vector<Waiting> waiting = snapshot(BX_STAT_UNAUTH);
        if (waiting.empty()) return;
        report(BX_REP_SERVER, "dialing");
        delay(kDial);
        for (Waiting &w : waiting) {
            if (stop_requested()) break;
            report(BX_REP_SERVER, "authorizing", w.key.c_str());
            delay(kTransact);
            _bx_xaction x = w.x;
            const Answer *a = &kUnsupported;
            time_t now = time(nullptr);
            // An ACH record is a sale from the start: its authorisation
            // request carries the sale code.
            if (x.subtype.code == BX_CODE_AUTH || x.subtype.code == BX_CODE_SALE) {
                int c = cents(x);
                a = c == kDeclineCents ? &kDeclined : c == kReviewCents ? &kReferred : &kApproved;
                if (a == &kApproved) {
                    _bx_result r = result_for(x, *a, authcode_of(x));
                    bx_xaction_retail_auth2ticket(&x, &r);
                    x.time.auth = now;
                } else {
                    _bx_result r = result_for(x, *a);
                    copy_result_data(&x, &r);
                }
            } else {
                if (x.subtype.code == BX_CODE_REVERSE) {
                    a = &kReversed;
                    x.time.done = now;
                }
                _bx_result r = result_for(x, *a);
                copy_result_data(&x, &r);
            }
            if (move(BX_STAT_UNAUTH, a->dest, w, x))
                qor_logf(QOR_LOG_INFO, "%s: %s, moved to '%s'", w.key.c_str(), x.result.text,
                         bx_stat2str(a->dest));
        }
        report(BX_REP_SERVER, "hanging up");
        delay(kHangUp);
        report(BX_REP_SERVER, "idle");
    }

    // The next batch number: reads the BATCHNUM record, counts on (999 is
    // followed by 1) and writes it back.  0 when the record cannot be read
    // or written back: a number not stored could be given out again.
    int next_batch() {
        _dll_counters &c = s_->dll.counters;
        c.batchvalid = 0;
        if (!bx_dll_sync(s_, bx_dll_key::batchnum)) return 0;
        c.batchnum = c.batchnum >= 1 && c.batchnum < 999 ? c.batchnum + 1 : 1;
        c.batchvalid = 2;
        if (!bx_dll_sync(s_, bx_dll_key::batchnum)) return 0;
        return c.batchnum;
    }

    // The batch queue: whatever waits is uploaded as one batch.  A batch is
    // one step: once started it is finished.
    void upload() {
        std::vector<Waiting> waiting = snapshot(BX_STAT_READY);
        if (waiting.empty()) return;
        report(BX_REP_UPLOAD, "dialing");
        delay(kDial);
        std::vector<Waiting *> batch;
        bool rejected = false;
        for (Waiting &w : waiting) {
            if (!settled_answer(w.x.subtype.code)) {
                _bx_xaction x = w.x;
                _bx_result r = result_for(x, kUnsupported);
                copy_result_data(&x, &r);
                if (move(BX_STAT_READY, kUnsupported.dest, w, x))
                    qor_logf(QOR_LOG_WARNING, "%s: request code %d is not uploaded, moved to '%s'",
                             w.key.c_str(), w.x.subtype.code, bx_stat2str(kUnsupported.dest));
                continue;
            }
            batch.push_back(&w);
            rejected = rejected || (cents(w.x) == kRejectCents && !w.x.sent);
        }
        int bnum = batch.empty() ? 0 : next_batch();
        if (batch.empty()) {
            report(BX_REP_UPLOAD, "idle");
        } else if (bnum == 0) {
            qor_logf(QOR_LOG_NONFATAL, "batch number unavailable: %zu items wait in queue 'ready'", batch.size());
            report(BX_REP_UPLOAD, "batch number unavailable");
        } else {
            std::string task = "uploading batch " + std::to_string(bnum);
            int inum = 0, moved = 0;
            for (Waiting *w : batch) {
                report(BX_REP_UPLOAD, task, w->key.c_str());
                delay(kTransact);
                _bx_xaction x = w->x;
                x.bnum = bnum;
                x.inum = ++inum;
                x.sent = 1;
                const Answer &a = rejected ? kRejected : *settled_answer(x.subtype.code);
                std::string code;
                if (!rejected && x.subtype.code != BX_CODE_VOID && !x.authcode[0])
                    code = authcode_of(x);  // a sale or a return
                _bx_result r = result_for(x, a, code);
                r.batchnum = bnum;
                r.itemnum = x.inum;
                if (rejected) {
                    copy_result_data(&x, &r);
                } else {
                    x.time.done = time(nullptr);
                    bx_xaction_retail_ready2done(&x, &r);
                }
                moved += move(BX_STAT_READY, a.dest, *w, x);
            }
            const char *outcome = rejected ? "rejected" : "settled";
            qor_logf(QOR_LOG_INFO, "batch %d %s: %d of %zu items moved to '%s'", bnum, outcome, moved,
                     batch.size(), bx_stat2str(rejected ? kRejected.dest : BX_STAT_DONE));
            report(BX_REP_UPLOAD, "batch " + std::to_string(bnum) + " " + outcome + ": " +
                                      std::to_string(moved) + " items");
        }
        delay(kHangUp);
    }

    bx_session s_;
    bx_spool spool_;
    std::set<std::string> reported_;
    unsigned turns_[std::size(kDelays)] = {};
};

struct Options {
    std::string config;
    bool once = false;
    bool verbose = false;
    double interval = 2.0;
};

// False for a malformed command line.
bool parse(int argc, char **argv, Options &o, bool &help) {
    bool have_config = false;
    for (int i = 1; i < argc; i++) {
        std::string_view a = argv[i];
        bool has_value = i + 1 < argc;
        if (a == "-h" || a == "--help") {
            help = true;
        } else if (a == "--once") {
            o.once = true;
        } else if (a == "-v" || a == "--verbose") {
            o.verbose = true;
        } else if ((a == "-c" || a == "--config") && has_value && !have_config) {
            o.config = argv[++i];
            have_config = !o.config.empty();
            if (!have_config) return false;
        } else if ((a == "-i" || a == "--interval") && has_value) {
            char *end = nullptr;
            o.interval = strtod(argv[++i], &end);
            if (*argv[i] == '\0' || *end != '\0' || !std::isfinite(o.interval) || o.interval < 0 ||
                o.interval > 3600)
                return false;
        } else {
            return false;
        }
    }
    return help || have_config;
}

// Takes the daemon lock of the spool; false (having said why) when it is
// held by another daemon or cannot be had.
bool claim_spool(bx_session s, const std::string &config) {
    std::string path = std::string(s->qdir) + "/" + kLockName;
    int fd = qor_fdlib_createlockfile(path.c_str());
    if (fd >= 0 && qor_fdlib_lockfd(fd, QOR_FDLIB_EXCLUSIVE, QOR_FDLIB_NOWAIT) == 0) {
        fcntl(fd, F_SETFD, FD_CLOEXEC);
        return true;  // held, through fd, until the process ends
    }
    int err = errno;
    if (fd >= 0 && (err == EAGAIN || err == EACCES)) {
        struct flock fl = {};
        fl.l_type = F_WRLCK;
        fl.l_whence = SEEK_SET;
        fl.l_len = 1;
        long holder = fcntl(fd, F_GETLK, &fl) == 0 && fl.l_type != F_UNLCK ? fl.l_pid : 0;
        fprintf(stderr, "%s: %s: spool %s is already served by process %ld\n", kProg, config.c_str(),
                s->qdir, holder);
    } else {
        fprintf(stderr, "%s: %s: %s: %s\n", kProg, config.c_str(), path.c_str(), strerror(err));
    }
    if (fd >= 0) close(fd);
    return false;
}

}  // namespace

int main(int argc, char **argv) {
    // First of all: from here on no stop signal can end the process half way.
    block_stop_signals();
    Options o;
    bool help = false;
    if (!parse(argc, argv, o, help)) {
        fputs(kUsage, stderr);
        return kExitUsage;
    }
    if (help) {
        fputs(kUsage, stdout);
        return kExitOk;
    }
    if (o.verbose) qor_log_set_sink(brixtool::echo_log, const_cast<char *>(kProg));
    signal(SIGPIPE, SIG_IGN);

    bx_session s = bx_init(o.config.c_str());
    if (!s) {
        fprintf(stderr, "%s: %s: %s\n", kProg, o.config.c_str(), bx_initerror);
        return kExitBad;
    }
    for (const bx_spool_queue &q : bx_session_spool(s).queues) {
        if (!q.q) {
            fprintf(stderr, "%s: %s: queue '%s' cannot be opened under %s\n", kProg, o.config.c_str(),
                    q.name, s->qdir);
            bx_done(s);
            return kExitBad;
        }
    }
    if (!claim_spool(s, o.config)) {
        bx_done(s);
        return kExitBad;
    }

    qor_logf(QOR_LOG_INFO, "%s serving configuration %s (spool %s)%s", kProg, o.config.c_str(), s->qdir,
             o.once ? " once" : "");
    Daemon d(s);
    d.report(BX_REP_SERVER, "idle");
    while (!stop_requested()) {
        d.step();
        if (o.once) break;
        pause_for(o.interval);
    }
    d.report(BX_REP_SERVER, "stopped");
    qor_logf(QOR_LOG_INFO, "%s stopping", kProg);
    bx_done(s);
    return kExitOk;
}
