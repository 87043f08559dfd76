// brix-demod, run as a real process: every queue path with its
// deterministic triggers and result fields, the state record and the
// reports it writes, the items it must leave alone, and several processes
// working on one spool while it runs.
#include <signal.h>

#include <chrono>
#include <tuple>

#include "api/bx_api_count.h"
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
};

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
    EXPECT_TRUE(has(r.err, "brix-demod: NonFatal error: queue 'unauth': item 3 of 3 cannot be read; left in place\n"))
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

}  // namespace
