// Crash and fault points of every operation that changes the spool.
//
// Each operation runs in a child process that kills itself (SIGKILL) just
// before its n-th mutating file-system call, for n = 1, 2, ... until the
// operation completes; then again in this process with its n-th mutating
// call failing with EIO, ENOSPC and EINTR.  After each run a new session
// (which settles the journal first, as every session does) must find:
// every transaction exactly once, with its bytes; the one in flight wholly
// as it was or wholly as the operation leaves it; counts, walks and
// bx_status agreeing; a spool the check finds sound; and a queue that takes
// the next put.  A failed operation must never have answered OK, and no
// lock may stay held.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "api/bx_api_add.h"
#include "api/bx_api_dauth.h"
#include "api/bx_api_delete.h"
#include "api/bx_api_new.h"
#include "api/bx_api_return.h"
#include "api/bx_api_reverse.h"
#include "api/bx_api_sale.h"
#include "api/bx_api_status.h"
#include "api/bx_api_void.h"
#include "commands/bx_cmd_nash.h"
#include "commands/bx_cmd_rbank.h"
#include "commands/bx_cmd_utf.h"
#include "queue/bx_spool.h"
#include "queue/qor_fdlib.h"
#include "tests/api/daemon.h"
#include "tests/brix_fixture.h"
#include "xaction/bx_xaction_retail.h"

namespace {

int agree(bx_session, bx_xaction) { return 1; }

// The state records of "globals"; every other key is a transaction's.
const std::set<std::string> kStateRecords = {"PHONENUM", "INITREQF", "BATCHNUM"};

// A record as a comparison sees it: a transaction without its time stamps
// and processor result (a request and the daemon stamp the time they
// run), a state record without the time the initialise flag carries.
std::string normal(const std::string &key, const std::string &bytes) {
    if (key == "INITREQF") return bytes.substr(0, 2);
    if (kStateRecords.count(key)) return bytes;
    _bx_xaction x;
    if (bx_xaction_unpack(bytes.data(), &x, static_cast<int>(bytes.size())) != 1) return "unreadable:" + bytes;
    x.time = {};
    x.result = {};
    memset(x.datestamp, 0, sizeof x.datestamp);
    char out[8192];
    int len = bx_xaction_pack(out, &x, sizeof out);
    return std::string(out, static_cast<size_t>(len > 0 ? len : 0));
}

// Where each key stands: queue name (or "" nowhere) and its bytes.
struct Place {
    std::string queue;
    std::string bytes;
    bool operator==(const Place &o) const { return queue == o.queue && bytes == o.bytes; }
};
using State = std::map<std::string, Place>;

struct Op {
    const char *name;
    std::vector<std::string> in_flight;       // keys the operation may change
    std::function<int(bx_session)> run;       // its result code; 0 or 2 means it took effect
    bool daemon = false;                      // one poll of brix-demod instead
};

class Crash : public testutil::BrixTest {
protected:
    testutil::TempDir mem{testutil::memory_dir()};  // the loops open thousands of sessions
    std::string snapshot = mem / "snapshot";
    testutil::LogCapture capture;             // no line reaches the host's log
    std::vector<std::string> keys;            // every key the spool holds or may hold

    void SetUp() override {
        BrixTest::SetUp();
        spool = mem / "spool";
        write_config("test", base_config("demo"));
        bx_session s = session();
        ASSERT_NE(s, nullptr) << bx_initerror;
        auto make = [&](const char *inv, bx_queue to, int code = 0, int batch = 0) {
            ASSERT_EQ(bx_new(s, inv), 0);
            ASSERT_EQ(bx_add(s, inv, BX_ARG_AMOUNT, "12.34"), 0);
            ASSERT_EQ(bx_add(s, inv, BX_ARG_CARDNUM, "4111111111111111"), 0);
            ASSERT_EQ(bx_add(s, inv, BX_ARG_EXPDATE, "12/29"), 0);
            ASSERT_EQ(bx_add(s, inv, BX_ARG_CVV2, "123"), 0);
            if (to == s->new_) return;
            ASSERT_TRUE(testutil::daemon_move(s->new_, to, inv, [&](_bx_xaction &x) {
                if (code) x.subtype.code = code;
                x.bnum = batch;
            }));
        };
        make("NEWA0001", s->new_);
        make("AUTH0001", s->auth);
        make("DONE0001", s->done, BX_CODE_RETURN);
        make("BADA0001", s->bad, BX_CODE_SALE, 7);
        make("BADB0001", s->bad, BX_CODE_SALE, 7);
        make("BADC0001", s->bad, BX_CODE_SALE, 8);
        make("REDY0001", s->new_);
        ASSERT_EQ(bx_sale(s, "REDY0001"), 0) << s->apitext;
        make("UNAU0001", s->new_);
        ASSERT_EQ(bx_auth(s, "UNAU0001"), 0) << s->apitext;
        bx_done(s);
        keys = {"NEWA0001", "AUTH0001", "DONE0001", "BADA0001", "BADB0001", "BADC0001",
                "REDY0001", "UNAU0001", "FRESH001", "QPUT0001", "PHONENUM", "INITREQF", "BATCHNUM"};
        testutil::copy_tree(spool, snapshot);
    }

    bx_session session() {
        bx_session s = bx_init("test");
        if (s) s->val = {agree, agree, agree, agree, agree};
        return s;
    }
    void restore() { testutil::copy_tree(snapshot, spool); }

    // The queues an operation works on: where its keys were and went.
    std::set<std::string> touched;
    void touching(const Op &op, const State &before, const State &after) {
        touched.clear();
        for (const std::string &key : op.in_flight)
            for (const State *s : {&before, &after})
                if (s->count(key)) touched.insert(s->at(key).queue);
        touched.insert("new");
    }

    // Under the sanitizers every fourth point of the loops over mutating
    // calls is run (each runs the same code as its neighbours, many times
    // slower); the other build runs every point of every loop.
#if defined(__SANITIZE_ADDRESS__)
    static constexpr unsigned long kStride = 4;
#else
    static constexpr unsigned long kStride = 1;
#endif

    // Runs brix-demod once; BRIX_FS_SEAM arms its file-system seam.
    int daemon_step(const std::string &seam) {
        pid_t pid = fork();
        if (pid == 0) {
            if (!seam.empty()) setenv("BRIX_FS_SEAM", seam.c_str(), 1);
            int null = ::open("/dev/null", O_RDWR);
            dup2(null, 1);
            dup2(null, 2);
            execl(BRIX_BUILD_DIR "/brix-demod", "brix-demod", "-c", "test", "--once", (char *)nullptr);
            _exit(127);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        return status;
    }

    // The spool as a new session finds it; adds a failure for every way in
    // which it is not sound.
    State look(const std::string &what, const std::set<std::string> &touched = {}) {
        State st;
        bx_session s = session();
        if (!s) {
            ADD_FAILURE() << what << ": no session: " << bx_initerror;
            return st;
        }
        bx_spool sp = bx_session_spool(s);
        for (const std::string &key : keys) {
            std::vector<std::string> held;
            for (const bx_spool_queue &q : sp.queues) {
                bx_queue_item item = bx_queue_find_item(q.q, key.c_str());
                EXPECT_EQ(q.q->lasterr, 0) << what << ": " << q.name << " cannot be searched";
                if (!item) continue;
                held.push_back(q.name);
                st[key] = {q.name, normal(key, std::string(item->buf, item->size))};
                bx_queue_item_close(q.q, item);
            }
            EXPECT_LE(held.size(), 1u) << what << ": " << key << " is in " << testing::PrintToString(held);
            if (!kStateRecords.count(key)) {
                int status = bx_status(s, key.c_str());
                EXPECT_STREQ(bx_stat2str(status), held.empty() ? "none" : held[0].c_str()) << what << ": " << key;
            }
        }
        // Counts and the daemon's walk (by position, oldest first) see what
        // bx_status sees, and nothing else.
        for (const bx_spool_queue &q : sp.queues) {
            if (!q.transactions) continue;
            std::set<std::string> walked, found;
            int count = bx_queue_count(q.q);
            for (int n = 1; n <= count; n++) {
                bx_queue_item item = bx_queue_nth_item(q.q, static_cast<unsigned>(n));
                EXPECT_NE(item, nullptr) << what << ": " << q.name << " #" << n;
                if (!item) continue;
                EXPECT_TRUE(walked.insert(item->primary_key).second) << what << ": " << item->primary_key;
                bx_queue_item_close(q.q, item);
            }
            for (const auto &[key, place] : st)
                if (place.queue == q.name) found.insert(key);
            EXPECT_EQ(walked, found) << what << ": walk of " << q.name;
        }
        // Sound files, and a queue that takes the next put.
        auto judge = [](const char *data, int size) {
            _bx_xaction x;
            if (bx_xaction_unpack(data, &x, size) != 1) return bx_spool_content{"", "unpackable"};
            return bx_spool_content{x.data.retail.invoice, "", 0};
        };
        for (const bx_spool_finding &f : bx_spool_check(sp, judge))
            ADD_FAILURE() << what << ": check: " << f.queue << " " << f.file << " " << f.problem;
        for (const bx_spool_queue &q : sp.queues) {
            if (!touched.empty() && !touched.count(q.name)) continue;
            int n = bx_queue_put(q.q, "next", 4, "NEXT0001");
            EXPECT_GE(n, 1) << what << ": the next put into " << q.name;
            bx_queue_item item = bx_queue_find_item(q.q, "NEXT0001");
            EXPECT_TRUE(item && bx_queue_item_delete(q.q, item) == 0) << what << ": delete from " << q.name;
        }
        bx_done(s);
        return st;
    }

    // Every key not in flight is as it was; one in flight is as it was or
    // as the finished operation leaves it (exactly that, when `done`).
    void compare(const Op &op, const State &before, const State &after, const State &seen, const std::string &what,
                 bool done) {
        for (const std::string &key : keys) {
            auto get = [&](const State &s) { return s.count(key) ? s.at(key) : Place{}; };
            Place now = get(seen), was = get(before), will = get(after);
            if (std::count(op.in_flight.begin(), op.in_flight.end(), key) == 0)
                EXPECT_EQ(now, was) << what << ": " << key << " in '" << now.queue << "'";
            else if (done)
                EXPECT_EQ(now, will) << what << ": " << key << " in '" << now.queue << "', not '" << will.queue << "'";
            else
                EXPECT_TRUE(now == was || now == will)
                    << what << ": " << key << " in '" << now.queue << "', neither '" << was.queue << "' nor '"
                    << will.queue << "'";
        }
    }

    // No record lock is held by this process (the kernel's list of locks
    // names the process that holds each).
    static bool locks_free() {
        std::string locks = testutil::read_file("/proc/locks");
        std::string mine = " " + std::to_string(getpid()) + " ";
        return locks.find(mine) == std::string::npos;
    }

    // Runs the operation once in this process and returns the state it
    // leaves.
    State finished(const Op &op) {
        restore();
        if (op.daemon) {
            EXPECT_EQ(daemon_step(""), 0);
        } else {
            bx_session s = session();
            int rc = op.run(s);
            EXPECT_EQ(rc, 0) << op.name << ": " << s->apitext;
            bx_done(s);
        }
        return look(std::string(op.name) + " finished");
    }

    // Kills the operation at each of its mutating calls; the number of
    // crash points.
    int crash_points(const Op &op, const State &before, const State &after, unsigned long *mutations) {
        int points = 0;
        for (unsigned long n = 1; n < 2000; n += kStride) {
            restore();
            bool killed;
            if (op.daemon) {
                int status = daemon_step("kill:" + std::to_string(n));
                killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
            } else {
                fflush(nullptr);
                pid_t pid = fork();
                if (pid == 0) {
                    bx_session s = session();
                    if (!s) _exit(3);
                    qor_fdlib_kill_nth_mutation(n);
                    op.run(s);
                    _exit(0);
                }
                int status = 0;
                waitpid(pid, &status, 0);
                killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
                EXPECT_TRUE(killed || (WIFEXITED(status) && WEXITSTATUS(status) == 0)) << op.name << " " << n;
            }
            if (!killed) {
                *mutations = n - 1;
                return points;
            }
            points++;
            std::string what = std::string(op.name) + " killed at mutation " + std::to_string(n);
            compare(op, before, after, look(what, touched), what, false);
            if (HasFailure()) return points;
        }
        ADD_FAILURE() << op.name << " never completed";
        return points;
    }

    // Fails each mutating call with err (each call of any kind, locks and
    // reads included, when `any`); the number of fault points.
    int fault_points(const Op &op, int err, const State &before, const State &after, unsigned long mutations,
                     bool any = false) {
        int points = 0;
        for (unsigned long n = 1; any || n <= mutations; n += kStride) {
            restore();
            std::string what = std::string(op.name) + " with " + (any ? "call " : "mutation ") + std::to_string(n) +
                               " failing (" + strerror(err) + ")";
            bool ok;
            if (op.daemon) {
                daemon_step(std::string("fail:") + std::to_string(n) + ":" + strerrorname_np(err));
                ok = false;
            } else {
                bx_session s = session();
                unsigned long at = any ? qor_fdlib_calls() : qor_fdlib_mutations();
                if (any)
                    qor_fdlib_fail_nth(n, err);
                else
                    qor_fdlib_fail_nth_mutation(n, err);
                int rc = op.run(s);
                bool fired = (any ? qor_fdlib_calls() : qor_fdlib_mutations()) - at >= n;
                qor_fdlib_fail_nth(0, 0);
                // BX_ACTION: the move took effect, its old copy is left for
                // the recovery; a resend stops there, part way.
                ok = rc == 0 || (rc == BX_ACTION && op.in_flight.size() == 1);
                EXPECT_TRUE(locks_free()) << what << ": a lock stays held";
                bx_done(s);
                if (!fired) break;
            }
            points++;
            compare(op, before, after, look(what, touched), what, ok);
            if (HasFailure()) break;
        }
        return points;
    }
};

TEST_F(Crash, EveryOperationAtEveryCrashAndFaultPoint) {
    // Stores a copy of NEWA0001 under invoice with another amount.
    auto put_copy = [](bx_session s, const char *invoice) {
        _bx_xaction x;
        if (!testutil::read_xaction(s->new_, "NEWA0001", x)) return 128;
        x.amount = 999;
        bx_xaction_retail_setinvoice(&x, invoice);
        char buf[4096];
        int len = bx_xaction_pack(buf, &x, sizeof buf);
        return bx_queue_put(s->new_, buf, len, x.data.retail.invoice) >= 1 ? 0 : 128;
    };
    const std::vector<Op> ops = {
        {"put", {"QPUT0001"}, [&](bx_session s) { return put_copy(s, "QPUT0001"); }},
        {"replace", {"NEWA0001"}, [&](bx_session s) { return put_copy(s, "NEWA0001"); }},
        {"delete", {"NEWA0001"}, [](bx_session s) {
             bx_queue_item item = bx_queue_find_item(s->new_, "NEWA0001");
             return item && bx_queue_item_delete(s->new_, item) == 0 ? 0 : 128;
         }},
        {"bx_new", {"FRESH001"}, [](bx_session s) { return bx_new(s, "FRESH001"); }},
        {"bx_add", {"NEWA0001"}, [](bx_session s) { return bx_add(s, "NEWA0001", BX_ARG_AMOUNT, "56.78"); }},
        {"bx_auth", {"NEWA0001"}, [](bx_session s) { return bx_auth(s, "NEWA0001"); }},
        {"bx_sale", {"AUTH0001"}, [](bx_session s) { return bx_sale(s, "AUTH0001"); }},
        {"bx_return", {"NEWA0001"}, [](bx_session s) { return bx_return(s, "NEWA0001"); }},
        {"bx_reverse", {"AUTH0001"}, [](bx_session s) { return bx_reverse(s, "AUTH0001"); }},
        {"bx_void", {"DONE0001"}, [](bx_session s) { return bx_void(s, "DONE0001"); }},
        {"bx_delete", {"AUTH0001"}, [](bx_session s) { return bx_delete(s, "AUTH0001"); }},
        {"resend", {"BADA0001", "BADB0001"}, [](bx_session s) { return bx_cmd_utf_resend(s, BX_CMD_RESEND, "7"); }},
        {"phone numbers", {"PHONENUM"}, [](bx_session s) { return bx_cmd_nash_phonenum(s, BX_CMD_PHONENUM, "5551234"); }},
        {"initialise", {"INITREQF"}, [](bx_session s) { return bx_cmd_rbank_init(s, BX_CMD_INITIALIZE, nullptr); }},
        {"brix-demod step", {"UNAU0001", "REDY0001", "BATCHNUM"}, nullptr, true},
    };
    restore();
    const State before = look("before");
    int crashes = 0, faults = 0;
    std::string summary;
    for (const Op &op : ops) {
        const State after = finished(op);
        touching(op, before, after);
        unsigned long mutations = 0;
        int c = crash_points(op, before, after, &mutations);
        // An interrupted call is made again by the file-system layer itself;
        // its loop is left to the unsanitized build.
        std::string per_error;
        int f = 0;
        for (int err : {EIO, ENOSPC, EINTR}) {
            if (kStride != 1 && err == EINTR) continue;
            int k = fault_points(op, err, before, after, mutations);
            per_error += std::string(" ") + strerrorname_np(err) + " " + std::to_string(k);
            f += k;
        }
        if (!op.daemon && kStride == 1) {
            int k = fault_points(op, EIO, before, after, mutations, true);
            per_error += " EIO-any-call " + std::to_string(k);
            f += k;
        }
        crashes += c;
        faults += f;
        summary += std::string("  ") + op.name + ": " + std::to_string(c) + " crash points, " + std::to_string(f) +
                   " fault points (" + per_error.substr(1) + ")\n";
        if (HasFailure()) break;
    }
    printf("%s  all: %d crash points, %d fault points\n", summary.c_str(), crashes, faults);
    EXPECT_GT(crashes * kStride, 300u);
}

}  // namespace
