// The five processing requests: the whole transition table, the changes
// each accepted request makes, validator refusals, a transaction moved
// away by another process meanwhile, and storage failures that must leave
// the transaction where it was.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "api/bx_api_add.h"
#include "api/bx_api_dauth.h"
#include "api/bx_api_new.h"
#include "api/bx_api_return.h"
#include "api/bx_api_reverse.h"
#include "api/bx_api_sale.h"
#include "api/bx_api_void.h"
#include "queue/qor_fdlib.h"
#include "support/qor_log.h"
#include "tests/api/daemon.h"
#include "tests/brix_fixture.h"
#include "tests/queue/queue_test_util.h"
#include "xaction/bx_keydb.h"

using testutil::LogCapture;

namespace {

using Request = int (*)(bx_session, const char *);
const Request kRequests[] = {bx_auth, bx_sale, bx_return, bx_reverse, bx_void};
const char *const kNames[] = {"auth", "sale", "return", "reverse", "void"};
enum { AUTH, SALE, RETURN, REVERSE, VOID };

// Accepts everything; its text must not survive an accepted request.
int agree(bx_session s, bx_xaction) {
    bx_settext(s, "text {looked at it}");
    return 1;
}
// Refuses, naming what it was shown.
int refuse(bx_session s, bx_xaction x) {
    bx_settext(s, "");
    bx_appendf(s, "text {refused %s %d}", x->data.retail.invoice, x->amount);
    return 0;
}

class Requests : public testutil::BrixTest {
protected:
    bx_session s = nullptr;
    void SetUp() override {
        BrixTest::SetUp();
        reopen("demo");
    }
    void TearDown() override {
        bx_done(s);
        BrixTest::TearDown();
    }
    void reopen(const std::string &protocol, bx_validator v = agree) {
        bx_done(s);
        write_config("test", base_config(protocol));
        s = bx_init("test");
        ASSERT_NE(s, nullptr) << bx_initerror;
        if (v) s->val = {v, v, v, v, v};
    }
    bx_queue queue(int status) { return s->*bx_queue_def_of(status)->field; }
    // Creates the invoice with an amount and leaves it in the queue of
    // `status`, changed by `change` on the way; status 0 creates nothing.
    void place(const char *inv, int status, std::function<void(_bx_xaction &)> change = nullptr) {
        if (status == 0) return;
        ASSERT_EQ(bx_new(s, inv), 0);
        ASSERT_EQ(bx_add(s, inv, 1, "12.34"), 0);
        bx_queue via = queue(status == 2 ? 128 : 2);
        ASSERT_TRUE(testutil::daemon_move(s->new_, via, inv, change));
        ASSERT_TRUE(testutil::daemon_move(via, queue(status), inv));
    }
    // The status bits of every queue that holds the invoice.
    int where(const char *inv) {
        int found = 0;
        for (const bx_queue_def &d : bx_queue_defs)
            if (bx_queue_item item = bx_queue_find_item(s->*d.field, inv)) {
                found |= d.status;
                bx_queue_item_close(s->*d.field, item);
            }
        return found;
    }
    std::string stream(int status, const char *inv) {
        if (status == 0) return "";
        bx_queue_item item = bx_queue_find_item(queue(status), inv);
        if (!item) return "";
        std::string data(item->buf, item->size);
        bx_queue_item_close(queue(status), item);
        return data;
    }
};

struct Answer {
    int code;
    const char *text;
    int lands;  // queue the transaction is in afterwards; -1: where it was
};
const Answer kNone = {-4, "text {no such transaction}", 0};
const Answer kNotValid = {-3, "text {not valid for this transaction}", -1};
const Answer kInvalid = {-4, "text {invalid operation for that transaction}", -1};
const Answer kNotVoidable = {-128, "text {not in voidable state}", -1};
const Answer kPending = {-3, "text {invoice already pending upload}", -1};
const Answer kToUnauth = {0, "", 16}, kToReady = {0, "", 4};

TEST_F(Requests, EveryStateAgainstEveryRequest) {
    const struct {
        int status;
        Answer answers[5];  // auth, sale, return, reverse, void
    } rows[] = {
        {0, {kNone, kNone, kNone, kNone, kNone}},
        {1, {kToUnauth, kToReady, kToReady, {-4, "text {not yet authorized}", -1}, kNotVoidable}},
        {2, {kNotValid, kToReady, kInvalid, kToUnauth, kNotVoidable}},
        {4, {kNotValid, kPending, kInvalid, {-4, "text {already marked for sale}", -1}, kPending}},
        {8, {kNotValid, {-4, "text {already processed}", -1}, kInvalid,
             {-4, "text {already processed}", -1}, kToReady}},
        {16, {kNotValid, {-4, "text {awaiting authorization}", -1}, kInvalid,
              {-4, "text {awaiting authorization}", -1}, kNotVoidable}},
        {32, {kNotValid, {-4, "text {authorization denied}", -1}, kInvalid,
              {-4, "text {authorization denied}", -1}, kNotVoidable}},
        {64, {kNotValid, kToReady, kInvalid, kToUnauth, kNotVoidable}},
        {128, {kNotValid, {-4, "text {status of invoice not recognized}", -1}, kInvalid,
               {-4, "text {status of invoice not recognized}", -1}, kNotVoidable}},
    };
    for (const auto &row : rows)
        for (int r = 0; r < 5; r++) {
            std::string inv = "S" + std::to_string(row.status) + "R" + std::to_string(r);
            std::string what = inv + " " + kNames[r];
            place(inv.c_str(), row.status);
            std::string before = stream(row.status, inv.c_str());
            EXPECT_EQ(kRequests[r](s, inv.c_str()), row.answers[r].code) << what;
            EXPECT_STREQ(s->apitext, row.answers[r].text) << what;
            int lands = row.answers[r].lands < 0 ? row.status : row.answers[r].lands;
            EXPECT_EQ(where(inv.c_str()), lands) << what;
            EXPECT_EQ(stream(row.status, inv.c_str()), row.answers[r].lands < 0 ? before : "")
                << what;
        }
}

TEST_F(Requests, AcceptedRequestsMarkTheTransaction) {
    const struct {
        int request, from;
        int ptype, type, code;
        bool creat_now;  // else time.ready is stamped
        int to;
    } cases[] = {
        {AUTH, 1, 1, 0, 4, true, 16},    {SALE, 1, 3, 2, 3, false, 4},
        {SALE, 2, 3, 2, 3, false, 4},    {SALE, 64, 3, 2, 3, false, 4},
        {RETURN, 1, 3, 2, 2, false, 4},  {REVERSE, 2, 1, 0, 6, false, 16},
        {REVERSE, 64, 1, 0, 6, false, 16}, {VOID, 8, 3, 2, 5, false, 4},
    };
    int n = 0;
    for (const auto &c : cases) {
        std::string inv = "M" + std::to_string(n++);
        place(inv.c_str(), c.from, [&](_bx_xaction &x) {
            x.sent = 1;
            x.time.creat = 1000;
            x.time.ready = 2000;
            if (c.from == 8) x.subtype = {x.subtype.pflag, 3, 2, 2, x.subtype.format, 0};
        });
        time_t before = time(nullptr);
        ASSERT_EQ(kRequests[c.request](s, inv.c_str()), 0) << inv << " " << s->apitext;
        EXPECT_STREQ(s->apitext, "");
        ASSERT_EQ(where(inv.c_str()), c.to) << inv;
        _bx_xaction x = {};
        ASSERT_TRUE(testutil::read_xaction(queue(c.to), inv.c_str(), x));
        EXPECT_EQ(x.subtype.ptype, c.ptype) << inv;
        EXPECT_EQ(x.subtype.type, c.type) << inv;
        EXPECT_EQ(x.subtype.code, c.code) << inv;
        time_t stamped = c.creat_now ? x.time.creat : x.time.ready;
        EXPECT_GE(stamped, before) << inv;
        EXPECT_LE(stamped, time(nullptr)) << inv;
        EXPECT_EQ(c.creat_now ? x.time.ready : x.time.creat, c.creat_now ? 2000 : 1000) << inv;
        EXPECT_EQ(x.sent, 0) << inv;
        EXPECT_EQ(x.amount, 1234) << inv;
    }
}

TEST_F(Requests, ValidatorRefusalMovesNothing) {
    const struct {
        const char *protocol;
        bx_validator validator;
        const char *text;  // %s: the invoice key
    } sessions[] = {
        {"nosuch", nullptr, "text {invalid operation for this protocol}"},
        {"demo", refuse, "text {refused %s 1234}"},
    };
    const int from[] = {1, 1, 1, 2, 8};
    int n = 0;
    for (const auto &session : sessions) {
        reopen(session.protocol, session.validator);
        for (int r = 0; r < 5; r++) {
            std::string inv = "V" + std::to_string(n++);
            place(inv.c_str(), from[r]);
            std::string before = stream(from[r], inv.c_str());
            char text[64];
            snprintf(text, sizeof text, session.text, (inv + "XXXXXX").c_str());
            EXPECT_EQ(kRequests[r](s, inv.c_str()), 5) << inv;
            EXPECT_STREQ(s->apitext, text) << inv;
            EXPECT_EQ(where(inv.c_str()), from[r]) << inv;
            EXPECT_EQ(stream(from[r], inv.c_str()), before) << inv;
        }
    }
}

void quiet(int, const char *, void *) {}

// True once process pid waits for a record lock: the kernel lists each
// waiter in /proc/locks on a line marked "->".
bool waits_for_lock(pid_t pid) {
    std::ifstream in("/proc/locks");
    const std::string who = std::to_string(pid);
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        bool waiting = false, its = false;
        for (std::string w; words >> w;) {
            waiting |= w == "->";
            its |= w == who;
        }
        if (waiting && its) return true;
    }
    return false;
}

// Another process holds the "new" queue's lock while the request looks the
// invoice up, then deletes the transaction or moves it on, and lets go.
TEST_F(Requests, TransactionMovedAwayMeanwhileIsUnknown) {
    const struct {
        const char *inv;
        int to;  // 0: deleted
    } cases[] = {{"gone", 0}, {"moved", 2}};
    for (const auto &c : cases) {
        place(c.inv, 1);
        std::string before = stream(1, c.inv);
        int held[2];
        ASSERT_EQ(pipe(held), 0);
        pid_t parent = getpid();
        pid_t child = qtest::spawn([&] {
            qor_log_set_sink(quiet, nullptr);
            bx_session other = bx_init("test");
            if (!other || bx_queue_lockqueue(other->new_) != 0) return 1;
            if (write(held[1], "x", 1) != 1) return 2;
            for (int i = 0; i < 500 && !waits_for_lock(parent); i++) usleep(10000);
            if (c.to) return testutil::daemon_move(other->new_, other->auth, c.inv) ? 0 : 3;
            bx_queue_item_delete(other->new_, bx_queue_find_item(other->new_, c.inv));
            return bx_queue_unlockqueue(other->new_);
        });
        char byte;
        ASSERT_EQ(read(held[0], &byte, 1), 1);
        EXPECT_EQ(bx_sale(s, c.inv), -4) << c.inv;
        EXPECT_STREQ(s->apitext, "text {no such transaction}");
        EXPECT_EQ(qtest::wait_exit(child), 0);
        close(held[0]);
        close(held[1]);
        EXPECT_EQ(where(c.inv), c.to) << c.inv;
        EXPECT_EQ(stream(c.to, c.inv), c.to ? before : "") << c.inv;
        EXPECT_EQ(bx_queue_count(s->ready), 0);
        std::string lock = spool + "/new/.lock";
        EXPECT_EQ(qtest::wait_exit(qtest::spawn([&] {
                      struct flock fl = {};
                      fl.l_type = F_WRLCK;
                      fl.l_len = 1;
                      return fcntl(::open(lock.c_str(), O_RDWR), F_SETLK, &fl) == 0 ? 0 : 1;
                  })),
                  0)
            << "the source queue's lock is released";
    }
}

// Fails the file-system calls of a sale one at a time until the log shows
// each failure; the transaction stays in "new" as it was.
TEST_F(Requests, FailedStorageLeavesTheTransactionInPlace) {
    place("inv", 1);
    std::string before = stream(1, "inv");
    auto restore = [&] {
        for (const bx_queue_def &d : bx_queue_defs)
            if (bx_queue_item item = bx_queue_find_item(s->*d.field, "inv"); item && d.status != 1)
                bx_queue_item_delete(s->*d.field, item);
            else if (item)
                bx_queue_item_close(s->*d.field, item);
        if (stream(1, "inv") != before)
            bx_queue_put(s->new_, before.data(), (int)before.size(), "INVXXXXX");
    };
    const std::string eio = strerror(EIO);
    const struct {
        std::string line;
        const char *text;
    } cases[] = {
        {"NonFatal error: " + eio + ": bx_sale: Unable to lock queue 'new' for transaction inv\n",
         "text {unable to lock database}"},
        {"NonFatal error: " + eio + ": bx_sale: Unable to lock queue 'ready' for transaction inv\n",
         "text {unable to lock database}"},
        {"NonFatal error: Unable to insert transaction inv into database\n",
         "text {unable to store transaction}"},
    };
    LogCapture log;
    for (const auto &c : cases) {
        int result = 999;
        for (unsigned long n = 1; n < 400 && result == 999; n++) {
            restore();
            log.clear();
            qor_fdlib_fail_nth(n, EIO);
            int rc = bx_sale(s, "inv");
            qor_fdlib_fail_nth(0, 0);
            if (log.contains(c.line)) result = rc;
        }
        EXPECT_EQ(result, 128) << c.line;
        EXPECT_STREQ(s->apitext, c.text);
        EXPECT_EQ(where("inv"), 1) << c.line;
        EXPECT_EQ(stream(1, "inv"), before) << c.line;
    }
}

TEST_F(Requests, UnreadableTransactionStaysWhereItIs) {
    ASSERT_GT(bx_queue_put(s->new_, "not a stream", 12, "BROKENXX"), 0);
    LogCapture log;
    for (int r : {AUTH, SALE, RETURN}) {
        log.clear();
        EXPECT_EQ(kRequests[r](s, "broken"), 128) << kNames[r];
        EXPECT_STREQ(s->apitext, "text {unable to unpack transaction}");
        EXPECT_TRUE(log.contains("NonFatal error: Problem unpacking transaction broken\n"));
        EXPECT_EQ(where("broken"), 1);
        EXPECT_EQ(stream(1, "broken"), "not a stream");
    }
}

// A stream far longer than any fixed working buffer (a key this library
// does not know, as the daemon may add) is read whole.
TEST_F(Requests, LongStoredStreamIsReadWhole) {
    place("long", 1);
    std::string packed = stream(1, "long");
    bx_keydbel db = bx_keydb_unpack(packed.data(), (int)packed.size());
    ASSERT_NE(db, nullptr);
    ASSERT_EQ(bx_keydb_put(db, "DaemonNotes", std::string(20000, 'n').c_str()), 1);
    std::string longer(30000, '\0');
    int len = bx_keydb_pack(db, longer.data(), (int)longer.size());
    bx_keydb_destroy(db);
    ASSERT_GT(len, 20000);
    ASSERT_GT(bx_queue_put(s->new_, longer.data(), len, "LONGXXXX"), 0);
    EXPECT_EQ(bx_sale(s, "long"), 0) << s->apitext;
    _bx_xaction x = {};
    ASSERT_TRUE(testutil::read_xaction(s->ready, "long", x));
    EXPECT_EQ(x.amount, 1234);
    EXPECT_EQ(x.subtype.code, 3);
}

TEST_F(Requests, UnopenedDestinationFailsCleanly) {
    bx_done(s);
    s = nullptr;
    testutil::remove_tree(spool);
    mkdir(spool.c_str(), 0700);
    for (const char *q : {"ready", "unauth"}) testutil::write_file(spool + "/" + q, "not a directory");
    reopen("demo");
    place("inv", 1);
    LogCapture log;
    const struct {
        int request;
        const char *line;
    } cases[] = {{SALE, "NonFatal error: bx_sale: queue 'ready' is not open\n"},
                 {AUTH, "NonFatal error: bx_auth: queue 'unauth' is not open\n"}};
    for (const auto &c : cases) {
        EXPECT_EQ(kRequests[c.request](s, "inv"), 128);
        EXPECT_STREQ(s->apitext, "text {unable to store transaction}");
        EXPECT_TRUE(log.contains(c.line)) << c.line;
        EXPECT_EQ(where("inv"), 1);
    }
}

TEST_F(Requests, NoSessionAndNoInvoice) {
    for (Request r : kRequests) {
        EXPECT_EQ(r(nullptr, "inv"), -7);
        EXPECT_EQ(r(s, nullptr), -4);
        EXPECT_STREQ(s->apitext, "text {no such transaction}");
    }
}

}  // namespace
