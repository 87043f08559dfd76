// brix-demod, run as a real process: every queue path with its
// deterministic triggers and result fields, the state record and the
// reports it writes, the items it must leave alone, and several processes
// working on one spool while it runs.
#include <signal.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <tuple>

#include "api/bx_api_count.h"
#include "queue/bx_queue_files.h"
#include "queue/qor_fdlib.h"
#include "tests/queue/queue_test_util.h"
#include "tests/tools/tools_test.h"

using tooltest::has;
using tooltest::Result;
using tooltest::ToolsTest;

namespace {

class Demod : public ToolsTest {
protected:
    _bx_xaction record(int status, const std::string &invoice) {
        _bx_xaction x = {};
        EXPECT_TRUE(testutil::read_xaction(queue(status), invoice.c_str(), x)) << invoice;
        return x;
    }
    void run_once() {
        Result r = demod();
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "");
    }
    void fresh_spool(const std::string &extra_config = "") {
        testutil::remove_tree(spool);
        configure(base_config() + extra_config);
    }
    // Runs the daemon with -v; once it serves the spool and wait_ms more
    // have passed, sends it sig.  The time from the signal to its end.
    std::chrono::nanoseconds signalled(const std::string &interval, int wait_ms, int sig) {
        testutil::TempDir io;
        pid_t pid = tooltest::start(io, tooltest::kDemod, {"-c", "test", "-i", interval, "-v"});
        for (int i = 0; i < 1000 && !has(testutil::read_file(io / "err"), "serving configuration"); i++)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::this_thread::sleep_for(std::chrono::milliseconds(wait_ms));
        auto t0 = std::chrono::steady_clock::now();
        kill(pid, sig);
        Result r = tooltest::finish(io, pid);
        auto took = std::chrono::steady_clock::now() - t0;
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(has(r.err, std::string("Information: stop requested (") + strsignal(sig) + ")\n")) << r.err;
        EXPECT_TRUE(has(testutil::read_file(spool + ".dstat"), "task {stopped}"));
        return took;
    }
};

using std::chrono::milliseconds;

TEST_F(Demod, OnlineQueueOutcomes) {
    struct Case {
        const char *invoice, *amount;
        int code, status;
        const char *text, *iso;
    } cases[] = {
        {"APPROVE1", "12.00", BX_CODE_AUTH, BX_STAT_AUTH, "APPROVED 287423", "00"},
        {"APPROVE2", "7.45", BX_CODE_AUTH, BX_STAT_AUTH, "APPROVED 211505", "00"},
        {"DECLINE1", "12.01", BX_CODE_AUTH, BX_STAT_DENIED, "DECLINED", "05"},
        {"REVIEW01", "99.02", BX_CODE_AUTH, BX_STAT_REVIEW, "CALL CENTER", "01"},
        {"REVERSE1", "12.01", BX_CODE_REVERSE, BX_STAT_DONE, "REVERSED", "00"},
        {"RETURN01", "3.00", BX_CODE_RETURN, BX_STAT_BAD, "UNSUPPORTED REQUEST", "12"},
    };
    for (const Case &c : cases)
        stage(c.invoice, {{"amount", c.amount}, {"cardnum", "4111111111111111"}}, BX_STAT_UNAUTH, c.code);
    run_once();
    for (const Case &c : cases) {
        std::string text = status_text(c.invoice);
        EXPECT_TRUE(has(text, "status {" + std::string(bx_stat2str(c.status)) + "} invoice {" + c.invoice + "}"))
            << text;
        EXPECT_TRUE(has(text, std::string(" result_text {") + c.text + "} result_iso {" + c.iso + "}")) << text;
        _bx_xaction x = record(c.status, c.invoice);
        EXPECT_EQ(x.hasresult, 1);
        bool approved = c.status == BX_STAT_AUTH;
        EXPECT_EQ(x.subtype.code, approved ? BX_CODE_SALE : c.code) << c.invoice;
        EXPECT_EQ(x.time.auth != 0, approved) << c.invoice;
        EXPECT_EQ(x.time.done != 0, c.code == BX_CODE_REVERSE) << c.invoice;
        EXPECT_STREQ(x.authcode, approved ? c.text + 9 : "") << c.invoice;
    }
    EXPECT_TRUE(has(status_text("REVERSE1"), "amount {0.00}"));
    EXPECT_EQ(bx_queue_count(queue(BX_STAT_UNAUTH)), 0);
}

TEST_F(Demod, BatchSettlesSalesReturnsAndVoidsInOrder) {
    struct Case {
        const char *invoice, *amount;
        int code;
        const char *text, *acode;
    } cases[] = {
        {"SALE0001", "20.00", BX_CODE_SALE, "SETTLED 622932", "622932"},
        {"RETURN01", "5.00", BX_CODE_RETURN, "CREDITED 107142", "107142"},
        {"VOID0001", "8.00", BX_CODE_VOID, "VOIDED", ""},
    };
    for (const Case &c : cases) stage(c.invoice, {{"amount", c.amount}}, BX_STAT_READY, c.code);
    stage("AUTHED01", {{"amount", "1.00"}, {"acode", "777777"}}, BX_STAT_READY, BX_CODE_SALE);
    run_once();
    _bx_xaction first = record(BX_STAT_DONE, "SALE0001");
    EXPECT_GE(first.bnum, 1);
    int inum = 0;
    for (const Case &c : cases) {
        _bx_xaction x = record(BX_STAT_DONE, c.invoice);
        inum++;
        EXPECT_EQ(std::make_tuple(x.bnum, x.inum, x.result.batchnum, x.result.itemnum, x.sent),
                  std::make_tuple(first.bnum, inum, first.bnum, inum, 1));
        EXPECT_NE(x.time.done, 0);
        EXPECT_STREQ(x.authcode, c.acode);
        EXPECT_TRUE(has(status_text(c.invoice), std::string("result_text {") + c.text + "} result_iso {00}"));
    }
    EXPECT_TRUE(has(status_text("RETURN01"), "amount {-5.00}"));
    EXPECT_TRUE(has(status_text("AUTHED01"), "acode {777777} result_text {SETTLED}"));
    EXPECT_EQ(bx_queue_count(queue(BX_STAT_READY)), 0);
}

TEST_F(Demod, RejectedBatchGoesToBadAndSettlesOnceResent) {
    stage("TRIGGER1", {{"amount", "4.03"}}, BX_STAT_READY, BX_CODE_SALE);
    stage("COMPANY1", {{"amount", "4.00"}}, BX_STAT_READY, BX_CODE_RETURN);
    run_once();
    int bnum = record(BX_STAT_BAD, "TRIGGER1").bnum;
    for (const char *inv : {"TRIGGER1", "COMPANY1"}) {
        _bx_xaction x = record(BX_STAT_BAD, inv);
        EXPECT_EQ(std::make_tuple(x.bnum, x.sent, x.time.done), std::make_tuple(bnum, 1, time_t{0}));
        EXPECT_TRUE(has(status_text(inv), "result_text {BATCH REJECTED} result_iso {96}"));
        // What the resend command does: the batch back to "ready", unchanged.
        ASSERT_TRUE(tooltest::request_move(queue(BX_STAT_BAD), queue(BX_STAT_READY), inv, [](_bx_xaction &) {}));
    }
    run_once();
    EXPECT_TRUE(has(status_text("TRIGGER1"), "status {done}"));
    EXPECT_TRUE(has(status_text("TRIGGER1"), "result_text {SETTLED"));
    EXPECT_TRUE(has(status_text("COMPANY1"), "result_text {CREDITED "));
}

TEST_F(Demod, AvsAndCvv2Triggers) {
    struct Case {
        const char *address, *zip, *cvv2, *avs, *cvv2_piece;
    } cases[] = {
        {"12 Main", "627011234", "123", " avs {ok} avs_addr {ok} avs_zip {ok}", " cvv2 {ok}"},
        {"12 Main", "62701", "900", " avs {ok} avs_addr {ok} avs_zip {partial}", " cvv2 {fail}"},
        {"12 Main", "", "901", " avs {fail} avs_addr {ok} avs_zip {fail}", " cvv2 {not processed}"},
        {"", "627011234", "902", " avs {fail} avs_addr {fail} avs_zip {ok}", " cvv2 {should be on card}"},
        {"", "62701", "903", " avs {fail} avs_addr {fail} avs_zip {partial}", " cvv2 {unavailable}"},
        {"12 Main", "9999n", "904", " avs {fail} avs_addr {fail} avs_zip {fail}", " cvv2 {unknown status}"},
        {"", "9999R", "none", " avs {reenter}", " cvv2 {not processed}"},
        {"", "9999S", "illegible", " avs {unsupported}", " cvv2 {unavailable}"},
        {"", "9999U", "notprinted", " avs {unavailable}", " cvv2 {should be on card}"},
        {"", "9999G", "", " avs {record not found}", ""},
        {"", "99995", "", " avs {invalid response from processor}", ""},
        {"", "99999", "", " avs {invalid data}", ""},
        {"", "9999E", "", " avs {transaction ineligible}", ""},
        {"", "9999B", "", " avs {unknown status}", ""},
        {"Main Street", "", "", " avs {fail} avs_addr {fail} avs_zip {fail}", ""},
        {nullptr, nullptr, "", "", ""},
    };
    int n = 0;
    for (const Case &c : cases) {
        tooltest::FieldList fields{{"amount", "1.00"}};
        if (c.address && *c.address) fields.push_back({"address", c.address});
        if (c.zip && *c.zip) fields.push_back({"zipcode", c.zip});
        if (*c.cvv2) fields.push_back({"cvv2", c.cvv2});
        stage("AVS" + std::to_string(n++), fields, BX_STAT_UNAUTH, BX_CODE_AUTH);
    }
    run_once();
    n = 0;
    for (const Case &c : cases) {
        std::string text = status_text("AVS" + std::to_string(n++));
        std::string expected = std::string(c.avs) + c.cvv2_piece + " result_text {APPROVED ";
        EXPECT_TRUE(has(text, expected)) << text << "\nwanted: " << expected;
    }
}

// Needs the BATCHNUM state record and the report writer of the library.
TEST_F(Demod, CountsBatchNumbersOnAndWritesItsReports) {
    std::vector<int> batches;
    for (const char *inv : {"RUN1XXXX", "RUN2XXXX", "RUN3XXXX"}) {
        stage(inv, {{"amount", "2.00"}}, BX_STAT_READY, BX_CODE_SALE);
        run_once();
        batches.push_back(record(BX_STAT_DONE, inv).bnum);
    }
    EXPECT_EQ(batches, (std::vector<int>{1, 2, 3}));
    bx_queue_item item = bx_queue_find_item(s->globals, "BATCHNUM");
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(std::string(item->buf, item->size), std::string("3\0", 2));
    bx_queue_item_close(s->globals, item);

    std::string server = testutil::read_file(spool + ".dstat"), upload = testutil::read_file(spool + ".ustat");
    EXPECT_TRUE(has(server, "task {stopped} current {none} time {")) << server;
    EXPECT_TRUE(has(upload, "task {batch 3 settled: 1 items} current {none} time {")) << upload;
    Result r = brix({"report", "upload"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, upload);
}

TEST_F(Demod, LeavesUnreadableItemsWhereTheyAre) {
    stage("GOOD0001", {{"amount", "1.00"}}, BX_STAT_UNAUTH, BX_CODE_AUTH);
    ASSERT_GT(bx_queue_put(queue(BX_STAT_UNAUTH), "not a stream", 12, "BROKEN01"), 0);
    int torn = bx_queue_put(queue(BX_STAT_UNAUTH), "0123456789", 10, "TORN0001");
    std::string torn_file = spool + "/unauth/" + std::to_string(torn);
    testutil::write_file(torn_file, "TORN0001\n10\n01234");
    Result r = demod({"-v"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(has(r.err, "brix-demod: NonFatal error: queue 'unauth': item #")) << r.err;
    EXPECT_TRUE(has(r.err, " (BROKEN01) cannot be unpacked; left in place\n")) << r.err;
    EXPECT_TRUE(has(r.err, "brix-demod: NonFatal error: queue 'unauth': item #" + std::to_string(torn) +
                               " cannot be read; left in place\n"))
        << r.err;
    EXPECT_TRUE(has(r.err, "brix-demod: Information: GOOD0001: APPROVED ")) << r.err;
    EXPECT_EQ(bx_queue_count(queue(BX_STAT_UNAUTH)), 2);
    EXPECT_EQ(testutil::read_file(torn_file), "TORN0001\n10\n01234");
}

TEST_F(Demod, HonoursTheDemonstrationDelays) {
    configure(base_config() + "DemoDelayTransaction: 1\n");
    stage("SLOW0001", {{"amount", "1.00"}}, BX_STAT_UNAUTH, BX_CODE_AUTH);
    auto t0 = std::chrono::steady_clock::now();
    run_once();
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::seconds(1));
    EXPECT_TRUE(has(status_text("SLOW0001"), "status {auth}"));
}

TEST_F(Demod, ServesChequeAndAchConfigurations) {
    for (const char *protocol : {"demc", "SWACH"}) {
        testutil::remove_tree(spool);
        configure(base_config(protocol));
        stage("ONLINE01", {{"amount", "3.00"}, {"troutnum", "011000015"}}, BX_STAT_UNAUTH, BX_CODE_AUTH);
        stage("BATCH001", {{"amount", "3.00"}}, BX_STAT_READY, BX_CODE_SALE);
        run_once();
        EXPECT_TRUE(has(status_text("ONLINE01"), "status {auth}")) << protocol;
        EXPECT_TRUE(has(status_text("BATCH001"), "status {done}")) << protocol;
    }
}

TEST_F(Demod, CommandLineAndConfigurationErrors) {
    for (const auto &args : std::vector<std::vector<std::string>>{
             {}, {"--once"}, {"-c"}, {"-c", ""}, {"-c", "test", "-i", "x"}, {"-c", "test", "-i", "-1"},
             {"-c", "test", "--frob"}, {"-c", "a", "-c", "b"}}) {
        Result r = tooltest::run(tooltest::kDemod, args);
        EXPECT_EQ(r.status, 2);
        EXPECT_TRUE(has(r.err, "usage: brix-demod -c CONFIG")) << r.err;
    }
    Result r = tooltest::run(tooltest::kDemod, {"-c", "nosuch", "--once"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "brix-demod: nosuch: Unable to read BRIX user from config file.\n");
}

// Web-server processes create, fill and move transactions (authorisations,
// sales from "new" and from "auth", reversals of authorised ones) while
// the daemon polls; in the end every invoice stands in exactly one queue.
TEST_F(Demod, ManyProcessesAndTheDaemonLoseNothing) {
    testutil::TempDir io;
    pid_t daemon = tooltest::start(io, tooltest::kDemod, {"-c", "test", "-i", "0.01", "-v"});
    const int children = 3, each = 12;
    std::vector<pid_t> pids;
    for (int c = 0; c < children; c++) {
        pids.push_back(qtest::spawn([&, c] {
            bx_session cs = bx_init("test");
            if (!cs) return 100;
            auto q = [&](int st) { return cs->*bx_queue_def_of(st)->field; };
            auto request = [&](int from, int code, int i) {
                std::string inv = "P" + std::to_string(c) + "I" + std::to_string(i);
                int to = code == BX_CODE_SALE ? BX_STAT_READY : BX_STAT_UNAUTH;
                return tooltest::request_move(q(from), q(to), inv.c_str(),
                                              [code](_bx_xaction &x) { tooltest::mark(x, code); });
            };
            for (int i = 0; i < each; i++) {
                std::string inv = "P" + std::to_string(c) + "I" + std::to_string(i);
                std::string amount = std::to_string(i + 1) + ".0" + std::to_string(i % 4);
                if (bx_new(cs, inv.c_str()) || bx_add(cs, inv.c_str(), BX_ARG_AMOUNT, amount.c_str()) ||
                    !request(BX_STAT_NEW, i % 3 ? BX_CODE_AUTH : BX_CODE_SALE, i))
                    return 101;
                // Whatever the daemon has authorised so far is sold or reversed.
                for (int j = 0; j < i; j++) request(BX_STAT_AUTH, j % 2 ? BX_CODE_SALE : BX_CODE_REVERSE, j);
            }
            bx_done(cs);
            return 0;
        }));
    }
    for (pid_t pid : pids) EXPECT_EQ(qtest::wait_exit(pid), 0);
    // The running daemon has answered the last authorisations before it is
    // stopped (ten seconds at most).
    for (int waited = 0; bx_queue_count(queue(BX_STAT_UNAUTH)) > 0 && waited < 1000; waited++) usleep(10000);
    // A second daemon on the same spool is refused while the first runs.
    Result second = demod();
    EXPECT_EQ(second.status, 1);
    EXPECT_TRUE(has(second.err, "is already served by process " + std::to_string(daemon))) << second.err;
    kill(daemon, SIGTERM);
    Result first = tooltest::finish(io, daemon);
    EXPECT_EQ(first.status, 0) << first.err;
    EXPECT_TRUE(has(first.err, ", moved to 'auth'\n")) << first.err;
    EXPECT_TRUE(has(first.err, "brix-demod: Information: brix-demod stopping\n")) << first.err;
    run_once();
    run_once();

    // No invoice lost: the count; none twice: check finds duplicates.
    EXPECT_EQ(bx_count(s, BX_STAT_ALL), children * each);
    EXPECT_EQ(bx_count(s, BX_STAT_UNAUTH | BX_STAT_READY), 0);
    Result check = brix({"check"});
    EXPECT_EQ(check.status, 0) << check.out;
}

// A stop signal is taken at once, wherever the daemon waits: right after
// its start, in its poll interval, in a demonstration delay.  A stop in the
// transaction delay cuts the delay short and finishes that transaction.
TEST_F(Demod, StopSignalsEndItWithinASecond) {
    struct Case {
        int sig;
        const char *config;
        int wait_ms;
        const char *left_in;  // where the staged transaction ends, or null for none staged
    } cases[] = {
        {SIGTERM, "", 0, nullptr},
        {SIGINT, "", 300, nullptr},
        {SIGTERM, "DemoDelayDial: 3600\n", 300, "unauth"},
        {SIGHUP, "DemoDelayTransaction: 3600\n", 300, "auth"},
    };
    for (const Case &c : cases) {
        fresh_spool(c.config);
        if (c.left_in) stage("WAIT0001", {{"amount", "1.00"}}, BX_STAT_UNAUTH, BX_CODE_AUTH);
        EXPECT_LT(signalled("3600", c.wait_ms, c.sig), milliseconds(1000)) << strsignal(c.sig);
        if (c.left_in) {
            EXPECT_TRUE(has(status_text("WAIT0001"), std::string("status {") + c.left_in + "}"));
        }
    }
}

// SIGHUP at any moment of a busy poll: a clean stop, and every invoice in
// exactly one queue.
TEST_F(Demod, HangUpStopsItBetweenMoves) {
    for (int wait_ms : {0, 10, 30, 60, 120}) {
        fresh_spool();
        for (int i = 0; i < 30; i++)
            stage("HUP" + std::to_string(10000 + i), {{"amount", "1.0" + std::to_string(i % 3)}},
                  i % 3 ? BX_STAT_UNAUTH : BX_STAT_READY, i % 3 ? BX_CODE_AUTH : BX_CODE_SALE);
        EXPECT_LT(signalled("0.01", wait_ms, SIGHUP), milliseconds(1000)) << wait_ms;
        EXPECT_EQ(bx_count(s, BX_STAT_ALL), 30) << wait_ms;
        Result check = brix({"check"});
        EXPECT_EQ(check.status, 0) << wait_ms << " ms: " << check.out;
    }
}

// Bounds far beyond a day are taken within 0..3600 s: the first turn of
// each delay is its minimum, so the run is quick, and no arithmetic
// overflows (the sanitizer build aborts on one).
TEST_F(Demod, ExtremeDelaysAreBounded) {
    configure(base_config() + "DemoDelayDial: 0,2147483647\nDemoDelayTransaction: -2147483648,2147483647\n" +
              "DemoDelayHangup: -7\n");
    stage("FAST0001", {{"amount", "1.00"}}, BX_STAT_UNAUTH, BX_CODE_AUTH);
    auto t0 = std::chrono::steady_clock::now();
    Result r = demod({"-v"});
    EXPECT_LT(std::chrono::steady_clock::now() - t0, milliseconds(5000));
    EXPECT_EQ(r.status, 0) << r.err;
    for (const char *line : {"DemoDelayDial 0,2147483647", "DemoDelayTransaction -2147483648,2147483647",
                             "DemoDelayHangup -7,-7"})
        EXPECT_TRUE(has(r.err, std::string("Warning: ") + line +
                                   " is out of range: its delays are taken within 0..3600 seconds\n"))
            << r.err;
    EXPECT_TRUE(has(status_text("FAST0001"), "status {auth}"));
}

// A BATCHNUM record that cannot be read (its entry is a symbolic link loop) or
// written back (the globals queue has no index number left) keeps the
// batch in "ready"; the number is given out once it can be stored.
TEST_F(Demod, BatchWaitsWhenItsNumberCannotBeStored) {
    stage("FIRST001", {{"amount", "1.00"}}, BX_STAT_READY, BX_CODE_SALE);
    run_once();
    ASSERT_EQ(record(BX_STAT_DONE, "FIRST001").bnum, 1);
    const std::string entry = spool + "/globals/i_BATCHNUM", index = spool + "/globals/.index";
    std::string saved_entry = testutil::read_file(entry), saved_index = testutil::read_file(index);
    ASSERT_NE(saved_entry, "");
    struct Case {
        const char *invoice;
        std::function<void()> damage, mend;
    } cases[] = {
        {"NOREAD01", [&] { unlink(entry.c_str()), symlink("i_BATCHNUM", entry.c_str()); },
         [&] { unlink(entry.c_str()), testutil::write_file(entry, saved_entry); }},
        {"NOWRITE1", [&] { testutil::write_file(index, "2147483647\n"); },
         [&] { testutil::write_file(index, saved_index); }},
    };
    int waiting = 0;
    for (const Case &c : cases) {
        stage(c.invoice, {{"amount", "1.00"}}, BX_STAT_READY, BX_CODE_SALE);
        c.damage();
        Result r = demod({"-v"});
        c.mend();
        EXPECT_EQ(r.status, 0);
        EXPECT_TRUE(has(r.err, "NonFatal error: batch number unavailable: " + std::to_string(++waiting) +
                                   " items wait in queue 'ready'\n")) << r.err;
        EXPECT_TRUE(has(testutil::read_file(spool + ".ustat"), "task {batch number unavailable}"));
        _bx_xaction x = record(BX_STAT_READY, c.invoice);
        EXPECT_EQ(std::make_tuple(x.bnum, x.sent), std::make_tuple(0, 0)) << c.invoice;
    }
    run_once();
    for (const Case &c : cases) EXPECT_EQ(record(BX_STAT_DONE, c.invoice).bnum, 2) << c.invoice;
}

// Every record the daemon stores has lost its CVV2 value and track data;
// the CVV2 result stays.
TEST_F(Demod, StoredRecordsHoldNoCardSecrets) {
    struct Case {
        const char *invoice, *amount;
        int from, code, to;
    } cases[] = {
        {"APPROVE1", "12.00", BX_STAT_UNAUTH, BX_CODE_AUTH, BX_STAT_AUTH},
        {"DECLINE1", "12.01", BX_STAT_UNAUTH, BX_CODE_AUTH, BX_STAT_DENIED},
        {"REVIEW01", "12.02", BX_STAT_UNAUTH, BX_CODE_AUTH, BX_STAT_REVIEW},
        {"REVERSE1", "12.00", BX_STAT_UNAUTH, BX_CODE_REVERSE, BX_STAT_DONE},
        {"RETURN01", "12.00", BX_STAT_UNAUTH, BX_CODE_RETURN, BX_STAT_BAD},
        {"SALE0001", "12.00", BX_STAT_READY, BX_CODE_SALE, BX_STAT_DONE},
        {"AUTHRDY1", "12.00", BX_STAT_READY, BX_CODE_AUTH, BX_STAT_BAD},
    };
    for (const Case &c : cases)
        stage(c.invoice, {{"amount", c.amount}, {"cvv2", "123"}, {"track1", "B4111111111111111^DOE/J^29121010000"},
                          {"track2", "4111111111111111=29121010000000000000"}}, c.from, c.code);
    ASSERT_STREQ(record(BX_STAT_UNAUTH, "APPROVE1").cvv2.val, "123");
    run_once();
    for (const Case &c : cases) {
        _bx_xaction x = record(c.to, c.invoice);
        EXPECT_EQ(std::string(x.cvv2.val) + x.track1 + x.track2, "") << c.invoice;
        EXPECT_TRUE(has(status_text(c.invoice), " cvv2 {ok}")) << c.invoice << ": " << status_text(c.invoice);
    }
}

// A queue whose items cannot be read is left alone for the poll; the
// other queue is served.
TEST_F(Demod, UnreadableQueueIsLeftAloneForThePoll) {
    stage("GOOD0001", {{"amount", "1.00"}}, BX_STAT_UNAUTH, BX_CODE_AUTH);
    stage("LOOP0001", {{"amount", "1.00"}}, BX_STAT_UNAUTH, BX_CODE_AUTH);
    stage("SALE0001", {{"amount", "1.00"}}, BX_STAT_READY, BX_CODE_SALE);
    bx_queue_item item = bx_queue_find_item(queue(BX_STAT_UNAUTH), "LOOP0001");
    ASSERT_NE(item, nullptr);
    std::string name = std::to_string(item->indexno), path = spool + "/unauth/" + name;
    bx_queue_item_close(queue(BX_STAT_UNAUTH), item);
    ASSERT_EQ(unlink(path.c_str()), 0);
    ASSERT_EQ(symlink(name.c_str(), path.c_str()), 0);  // opening it fails: ELOOP
    Result r = demod({"-v"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(has(r.err, "NonFatal error: queue 'unauth' cannot be read (Too many levels of symbolic links); "
                           "left alone in this poll\n"))
        << r.err;
    EXPECT_TRUE(has(status_text("GOOD0001"), "status {unauth}"));
    EXPECT_TRUE(has(status_text("SALE0001"), "status {done}"));
}

// A copy whose move on is still journalled (stored in "done", its copy in
// "ready" not yet removed) is never settled twice, even while the record
// waits for the recovery (here: locked as if its mover were alive).
TEST_F(Demod, StaleCopyOfAJournalledMoveIsNotTakenUp) {
    stage("TWICE001", {{"amount", "1.00"}}, BX_STAT_READY, BX_CODE_SALE);
    bx_queue_item item = bx_queue_find_item(queue(BX_STAT_READY), "TWICE001");
    ASSERT_NE(item, nullptr);
    ASSERT_GT(bx_queue_put(queue(BX_STAT_DONE), item->buf, item->size, "TWICE001"), 0);
    bx_queue_item_close(queue(BX_STAT_READY), item);
    std::string rec = spool + "/journal/" + bxq::move_record_name("ready", "done", "TWICE001");
    testutil::write_file(rec, "");
    bxq::Fd held(::open(rec.c_str(), O_RDWR));
    ASSERT_EQ(qor_fdlib_lockfd(held.get(), QOR_FDLIB_EXCLUSIVE, QOR_FDLIB_NOWAIT), 0);
    Result r = demod({"-v"});
    EXPECT_TRUE(has(r.err, " (TWICE001) is stored beyond this queue already; left for the recovery\n")) << r.err;
    held.close();
    run_once();  // the recovery removes the stale copy
    EXPECT_EQ(bx_queue_count(queue(BX_STAT_READY)), 0);
    EXPECT_EQ(record(BX_STAT_DONE, "TWICE001").bnum, 0);  // never settled
}

}  // namespace
