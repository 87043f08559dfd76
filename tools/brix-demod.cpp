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
// Every move holds the source queue's lock across the put into the
// destination and the delete from the source, and deletes only after the
// put succeeded.  The destination's lock is tried without waiting: a
// request moving the other way (auth -> unauth, for instance) holds that
// lock while it waits for ours, so the daemon lets go of its own and tries
// again rather than deadlock.  The BATCHNUM read-increment-write is safe
// because one daemon serves a spool at a time ("brix-demod.lock" in the
// data directory).
//
// Failure policy: a configuration that cannot be opened, or a spool that
// another daemon serves, is one line on standard error and exit status 1;
// a malformed command line exit status 2.  Everything later is logged
// through qor_log (-v also echoes it to standard error) and the daemon
// goes on: an item it cannot read, unpack or move is left where it is.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "api/bx_api_init.h"
#include "api/bx_api_xact.h"
#include "commands/bx_rbank_dll.h"
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
    "Stops between steps on SIGTERM or SIGINT.\n"
    "Exit status: 0 success, 1 configuration or spool unusable, 2 usage error.\n";

constexpr char kLockName[] = "brix-demod.lock";
constexpr int kBusyTries = 200;          // tries of a busy destination lock ...
constexpr long kBusyPauseNs = 10000000;  // ... 10 ms apart

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

volatile sig_atomic_t g_stop = 0;

void on_signal(int) { g_stop = 1; }

// SA_RESTART: a record-lock wait inside the library resumes after the
// signal rather than fail and let the library go on unlocked.  Sleeps
// are not resumed, so a stop request cuts them short.
void install_signals() {
    struct sigaction sa = {};
    sa.sa_handler = on_signal;
    sa.sa_flags = SA_RESTART;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
}

// Sleeps for seconds, or until a stop is requested.
void pause_for(double seconds) {
    if (!(seconds > 0)) return;
    struct timespec left;
    left.tv_sec = static_cast<time_t>(seconds);
    left.tv_nsec = static_cast<long>((seconds - static_cast<double>(left.tv_sec)) * 1e9);
    while (!g_stop && nanosleep(&left, &left) != 0 && errno == EINTR) {
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

enum class Moved { yes, gone, busy, failed };

class Daemon {
public:
    explicit Daemon(bx_session s) : s_(s) {}

    // One poll: the on-line queue, then the batch queue.
    void step() {
        authorize();
        if (!g_stop) upload();
    }
    void report(int type, const std::string &task, const char *current = nullptr) {
        int rc = bx_setreport(s_, type, task.c_str(), current);
        if (rc != BX_OK)
            log_once(std::string("cannot write the ") + reptypes[type] + " report (" + std::to_string(rc) + ")");
    }

private:
    bx_queue queue(int status) { return bx_api_queue(s_, status, kProg); }

    // Logs a line once per run of the daemon: an item that stays where it is
    // would otherwise be reported at every poll.
    void log_once(const std::string &line) {
        if (reported_.size() > 10000) reported_.clear();
        if (reported_.insert(line).second) qor_log(QOR_LOG_NONFATAL, line.c_str());
    }

    // What waits in the queue, oldest first, read under its lock.  Items
    // that cannot be read, unpacked or moved by their key are logged and
    // left out.
    std::vector<Waiting> snapshot(int status) {
        const char *name = bx_stat2str(status);
        bx_queue q = queue(status);
        std::vector<Waiting> out;
        bx_queue_lock lock(q);
        if (!lock.held()) {
            qor_log_errf(QOR_LOG_NONFATAL, "cannot lock queue '%s'", name);
            return out;
        }
        int count = bx_queue_count(q);
        for (int pos = 1; pos <= count; pos++) {
            brixtool::Item item(q, bx_queue_nth_item(q, static_cast<unsigned>(pos)));
            if (!item) {
                log_once(std::string("queue '") + name + "': item " + std::to_string(pos) +
                         " of " + std::to_string(count) + " cannot be read; left in place");
                continue;
            }
            Waiting w{item->primary_key, item->indexno, std::string(item->buf, item->size), {}};
            std::string where = std::string("queue '") + name + "': item #" +
                                std::to_string(w.indexno) + " (" + w.key + ")";
            if (bx_api_fetch(q, item.get(), &w.x) != 1) {
                log_once(where + " cannot be unpacked; left in place");
                continue;
            }
            if (w.key != w.x.data.retail.invoice || !brixtool::is_invoice(w.key)) {
                log_once(where + " holds invoice '" + w.x.data.retail.invoice +
                         "', not its key; left in place");
                continue;
            }
            out.push_back(std::move(w));
        }
        return out;
    }

    // Moves w from src to dst as record x, once.  The item must still be
    // the one read (same number, same bytes).
    Moved move_once(bx_queue src, bx_queue dst, const Waiting &w, const std::string &packed) {
        bx_queue_lock lock(src);
        if (!lock.held()) {
            qor_log_errf(QOR_LOG_NONFATAL, "cannot lock the source queue of %s", w.key.c_str());
            return Moved::failed;
        }
        brixtool::Item item(src, bx_queue_find_item(src, w.key.c_str()));
        if (!item || item->indexno != w.indexno ||
            std::string_view(item->buf, static_cast<size_t>(item->size)) != w.raw)
            return Moved::gone;
        if (qor_fdlib_lockfd(dst->lockfd, QOR_FDLIB_EXCLUSIVE, QOR_FDLIB_NOWAIT) != 0) {
            if (errno == EAGAIN || errno == EACCES) return Moved::busy;
            qor_log_errf(QOR_LOG_NONFATAL, "cannot lock queue '%s' for %s", dst->qname, w.key.c_str());
            return Moved::failed;
        }
        int put = bx_queue_put(dst, packed.data(), static_cast<int>(packed.size()), w.key.c_str());
        bx_queue_unlockqueue(dst);
        if (put < 1) {
            qor_logf(QOR_LOG_NONFATAL, "cannot store %s in queue '%s'; left in queue '%s'", w.key.c_str(),
                     dst->qname, src->qname);
            return Moved::failed;
        }
        bx_queue_item_delete(src, item.release());
        return Moved::yes;
    }

    // Stores x, the changed record of w, in the queue of dest and removes w
    // from the queue of source.  True when it moved.
    bool move(int source, int dest, const Waiting &w, _bx_xaction &x) {
        std::string packed(BX_PACK_SIZE, '\0');
        int len = bx_xaction_pack(packed.data(), &x, static_cast<int>(packed.size()));
        if (len <= 0) {
            qor_logf(QOR_LOG_NONFATAL, "cannot pack %s; left in queue '%s'", w.key.c_str(), bx_stat2str(source));
            return false;
        }
        packed.resize(static_cast<size_t>(len));
        bx_queue src = queue(source), dst = queue(dest);
        for (int i = 0; i < kBusyTries; i++) {
            switch (move_once(src, dst, w, packed)) {
            case Moved::yes:
                return true;
            case Moved::gone:
                qor_logf(QOR_LOG_WARNING, "%s left queue '%s' while it was processed", w.key.c_str(),
                         bx_stat2str(source));
                return false;
            case Moved::failed:
                return false;
            case Moved::busy: {
                struct timespec pause = {0, kBusyPauseNs};
                nanosleep(&pause, nullptr);
                break;
            }
            }
        }
        qor_logf(QOR_LOG_INFO, "queue '%s' stays busy; %s waits for the next poll", bx_stat2str(dest),
                 w.key.c_str());
        return false;
    }

    // The demonstration delays: each takes the values from its minimum to
    // its maximum in turn.
    void delay(int min, int max, unsigned &turn) {
        if (min < 0) min = 0;
        if (max < min) max = min;
        pause_for(min + static_cast<int>(turn++ % static_cast<unsigned>(max - min + 1)));
    }
    void dial() { delay(s_->dll.delays.dialmin, s_->dll.delays.dialmax, dial_turn_); }
    void transact() { delay(s_->dll.delays.transmin, s_->dll.delays.transmax, trans_turn_); }
    void hang_up() { delay(s_->dll.delays.hangupmin, s_->dll.delays.hangupmax, hangup_turn_); }

    // The on-line queue: one call for whatever waits; stops between
    // transactions when asked to.
    void authorize() {
        std::vector<Waiting> waiting = snapshot(BX_STAT_UNAUTH);
        if (waiting.empty()) return;
        report(BX_REP_SERVER, "dialing");
        dial();
        for (Waiting &w : waiting) {
            if (g_stop) break;
            report(BX_REP_SERVER, "authorizing", w.key.c_str());
            transact();
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
        hang_up();
        report(BX_REP_SERVER, "idle");
    }

    // The next batch number: read the BATCHNUM record, count on (999 is
    // followed by 1), write it back.
    int next_batch() {
        _dll_counters &c = s_->dll.counters;
        c.batchvalid = 0;
        bx_rbank_dllsync_batchnum(s_);
        c.batchnum = c.batchnum >= 1 && c.batchnum < 999 ? c.batchnum + 1 : 1;
        c.batchvalid = 2;
        bx_rbank_dllsync_batchnum(s_);
        return c.batchnum;
    }

    // The batch queue: whatever waits is uploaded as one batch.  A batch is
    // one step: once started it is finished.
    void upload() {
        std::vector<Waiting> waiting = snapshot(BX_STAT_READY);
        if (waiting.empty()) return;
        report(BX_REP_UPLOAD, "dialing");
        dial();
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
        if (!batch.empty()) {
            int bnum = next_batch();
            std::string task = "uploading batch " + std::to_string(bnum);
            int inum = 0, moved = 0;
            for (Waiting *w : batch) {
                report(BX_REP_UPLOAD, task, w->key.c_str());
                transact();
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
        } else {
            report(BX_REP_UPLOAD, "idle");
        }
        hang_up();
    }

    bx_session s_;
    std::set<std::string> reported_;
    unsigned dial_turn_ = 0, trans_turn_ = 0, hangup_turn_ = 0;
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
    install_signals();
    signal(SIGPIPE, SIG_IGN);

    bx_session s = bx_init(o.config.c_str());
    if (!s) {
        fprintf(stderr, "%s: %s: %s\n", kProg, o.config.c_str(), bx_initerror);
        return kExitBad;
    }
    for (const brixtool::QueueRef &q : brixtool::queues_of(s)) {
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
    while (!g_stop) {
        d.step();
        if (o.once) break;
        pause_for(o.interval);
    }
    d.report(BX_REP_SERVER, "stopped");
    qor_logf(QOR_LOG_INFO, "%s stopping", kProg);
    bx_done(s);
    return kExitOk;
}
