// The operator's tool, run as a real process: its answers and their JSON
// form, the masked record, the damage check finds and the rebuild that
// never removes a transaction.
#include <sys/stat.h>

#include <functional>

#include "api/bx_api_xact.h"
#include "xaction/bx_xaction_keydb.h"
#include "tests/tools/tools_test.h"
#include "tools/tool_common.h"

using tooltest::has;
using tooltest::Result;
using tooltest::ToolsTest;

namespace {

class BrixTool : public ToolsTest {
protected:
    // Item number and file of an invoice in a queue.
    std::pair<std::string, std::string> item_of(int status, const char *invoice) {
        bx_queue q = queue(status);
        bx_queue_item item = bx_queue_find_item(q, invoice);
        EXPECT_NE(item, nullptr) << invoice;
        if (!item) return {};
        std::pair<std::string, std::string> out{std::to_string(item->indexno), item->fname};
        bx_queue_item_close(q, item);
        return out;
    }
};

TEST(BraceWords, ParseAndJsonForms) {
    using brixtool::parse_braces;
    struct Case {
        std::string text, json;
    } cases[] = {
        {"status {auth} invoice {AB12XXXX} result_text {}", R"({"status":"auth","invoice":"AB12XXXX","result_text":""})"},
        {"new {3} done {10} ", R"({"new":"3","done":"10"})"},
        {"task {a} current {none} time {Mon Dec  7 00:05:12 2026}\n",
         R"({"task":"a","current":"none","time":"Mon Dec  7 00:05:12 2026"})"},
        {"text {odd} braces}} here}", R"({"text":"odd} braces}} here"})"},
        {"NONE", R"({"text":"NONE"})"},
        {"text {q\"b\\ \x01\t\n\xC3\xA9\xFF\xED\xA0\x80}",
         R"({"text":"q\"b\\ \u0001\t\n)" "\xC3\xA9" R"(\u00ff\u00ed\u00a0\u0080"})"},
    };
    for (const Case &c : cases) EXPECT_EQ(brixtool::render(parse_braces(c.text), true), c.json) << c.text;
}

TEST_F(BrixTool, ScriptOperationsAnswerOneLineEach) {
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out;
    } cases[] = {
        {{"new", "inv-1"}, 0, "code {0} result {OK}\n"},
        {{"new", "inv-1"}, 1, "code {-3} result {duplicate invoice} text {invoice already in use}\n"},
        {{"add", "inv-1", "amount", "12.34"}, 0, "code {0} result {OK}\n"},
        {{"add", "inv-1", "AMOUNT", "1,000"}, 1, "code {128} result {unknown} text {could not set amount}\n"},
        {{"--json", "add", "inv-1", "cardnum", "4111111111111111"}, 0, R"({"code":0,"result":"OK"})" "\n"},
        {{"status", "nosuch"}, 1, "invoice {nosuch} status {none}\n"},
        {{"--json", "status", "nosuch"}, 1, R"({"invoice":"nosuch","status":"none"})" "\n"},
        {{"count", "new", "done"}, 0, "state {new} count {1}\nstate {done} count {0}\n"},
        {{"--json", "count", "bad"}, 0, R"({"state":"bad","count":0})" "\n"},
        {{"command", "cancel"}, 1, "code {5} result {invalid request} text {invalid operation for this protocol}\n"},
        {{"--json", "command", "frob", "x"}, 1,
         R"({"code":5,"result":"invalid request","text":"invalid operation for this protocol"})" "\n"},
        {{"list", "new"}, 0, ""},
        {{"delete", "inv-1"}, 0, "code {0} result {OK}\n"},
        {{"delete", "inv-1"}, 1, "code {-4} result {bad invoice} text {invoice doesn't exist}\n"},
    };
    for (const Case &c : cases) {
        Result r = brix(c.args);
        EXPECT_EQ(r.status, c.status) << c.args[0] << " " << r.err;
        if (c.args[0] == "list") {
            EXPECT_TRUE(has(r.out, "status {new} invoice {INV1XXXX} amount {12.34} newtime {")) << r.out;
            continue;
        }
        EXPECT_EQ(r.out, c.out) << c.args[0];
        EXPECT_EQ(r.err, "") << c.args[0];
    }
    stage("OLDEST", {{"amount", "1.00"}});
    stage("NEWEST", {{"amount", "2.00"}});
    Result list = brix({"--json", "list", "new"});
    EXPECT_EQ(list.out.find(R"({"status":"new","invoice":"OLDESTXX","amount":"1.00","newtime":")"), 0u) << list.out;
    EXPECT_TRUE(has(list.out, "}\n{\"status\":\"new\",\"invoice\":\"NEWESTXX\",\"amount\":\"2.00\"")) << list.out;
}

TEST_F(BrixTool, ShowMasksCardNumberAndHidesSecrets) {
    stage("SHOW0001", {{"track2", "4111111111111111=29121010000000000000"},
                       {"cvv2", "123"},
                       {"product", "a \"quoted\" \\ \x01 caf\xC3\xA9 \xFF"}});
    Result r = brix({"show", "new", "SHOW0001"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.find("Invoice = SHOW0001\n"), 0u);
    // The product's control character never reached the record.
    for (const char *line : {"\nCCNumber = ************1111\n", "\nCVV2Value = (hidden)\n",
                             "\nCCTrack2 = (hidden)\n", "\nCCTrack1 = \n", "\nCCExpDate = 1229\n",
                             "\nCVV2Status = 2\n", "\nProductName = a \"quoted\" \\  caf\xC3\xA9 \xFF\n"})
        EXPECT_TRUE(has(r.out, line)) << line;
    EXPECT_FALSE(has(r.out, "41111111")) << r.out;
    Result json = brix({"--json", "show", "new", "SHOW0001"});
    EXPECT_TRUE(has(json.out, R"({"key":"CCNumber","value":"************1111"})" "\n"));
    EXPECT_TRUE(has(json.out, R"({"key":"ProductName","value":"a \"quoted\" \\  caf)" "\xC3\xA9"
                              R"( \u00ff"})" "\n"))
        << json.out;
}

TEST_F(BrixTool, AddReadsTheValueFromStandardInput) {
    stage("STDIN001", {{"cvv2", "999"}});
    auto stored = [this](const std::string &field) {
        _bx_xaction x = {};
        EXPECT_TRUE(testutil::read_xaction(queue(BX_STAT_NEW), "STDIN001", x));
        return field == "cvv2" ? std::string(x.cvv2.val) : field == "cardnum" ? x.acc.card.num : x.acc.check.product;
    };
    const std::string refused = "brix: standard input: ";
    struct Case {
        std::string field, input;
        int status;
        std::string err, stored;
    } cases[] = {
        {"cvv2", "123\n", 0, "", "123"},
        {"cardnum", "4111 1111 1111 1111", 0, "", "4111111111111111"},
        {"product", "-\n", 0, "", "-"},
        {"product", std::string(4096, 'p') + "\n", 0, "", std::string(40, 'p')},
        {"cvv2", "", 1, refused + "holds no value\n", "123"},
        {"cvv2", std::string(4097, '1') + "\n", 1, refused + "value is longer than 4096 bytes\n", "123"},
        {"cvv2", "456\n789\n", 1, refused + "holds more than one line\n", "123"},
        {"cvv2", std::string("45\0" "6\n", 5), 1, refused + "value holds a NUL byte\n", "123"},
    };
    for (const Case &c : cases) {
        Result r = brix({"add", "STDIN001", c.field, "-"}, c.input);
        EXPECT_EQ(r.status, c.status) << c.field << " " << r.err;
        EXPECT_EQ(r.err, c.err) << c.field;
        EXPECT_EQ(r.out, c.status == 0 ? "code {0} result {OK}\n" : "") << c.field;
        EXPECT_EQ(stored(c.field), c.stored) << c.field;
    }
}

TEST_F(BrixTool, HostileAccountNameCannotForgeTheStatus) {
    stage("HOSTILE1", {{"accountname", "x} status {done"}});
    Result r = brix({"--json", "status", "HOSTILE1"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind(R"({"status":"new","invoice":"HOSTILE1","amount":"0.00","newtime":")", 0), 0u) << r.out;
    EXPECT_TRUE(has(r.out, R"("accountname":"x status done"})" "\n")) << r.out;
}

TEST_F(BrixTool, CheckFindsEachKindOfDamage) {
    using Damage = std::function<void(const std::string &number, const std::string &item)>;
    const std::string newq = spool + "/new/";
    struct Case {
        const char *what;
        Damage damage;
        std::string finding;      // "#" stands for the item's number
    } cases[] = {
        {"clean", [](auto &, auto &) {}, ""},
        {"entry gone", [&](auto &, auto &) { unlink((newq + "i_DAMAGED1").c_str()); },
         "queue {new} file {#} problem {item of key 'DAMAGED1' has no entry file}"},
        // An entry of an item gone finds nothing: no damage.
        {"item gone", [&](auto &, auto &) { testutil::write_file(newq + "i_GHOST001", "99\n"); }, ""},
        {"torn", [](auto &, const std::string &item) { testutil::write_file(item, "DAMAGED1\n100\nshort"); },
         "queue {new} file {#} problem {torn: declares 100 data bytes, holds 5}"},
        {"unpackable", [](auto &, const std::string &item) { testutil::write_file(item, "DAMAGED1\n5\nhello"); },
         "queue {new} file {#} problem {unreadable: the transaction stream cannot be unpacked}"},
        {"two queues",
         [&](auto &, const std::string &item) {
             std::string data = testutil::read_file(item);
             data = data.substr(data.find('\n', 9) + 1);
             bx_queue_put(queue(BX_STAT_DONE), data.data(), static_cast<int>(data.size()), "DAMAGED1");
         },
         "queue {new,done} file {i_DAMAGED1} problem {invoice DAMAGED1 is in more than one queue}"},
        {"shadowed", [&](auto &, const std::string &item) { testutil::write_file(newq + "50", testutil::read_file(item)); },
         "queue {new} file {50} problem {item of key 'DAMAGED1' is shadowed: its entry names item #}"},
        {"wrong entry", [&](const std::string &n, auto &) { testutil::write_file(newq + "i_OTHER001", n + "\n"); },
         "queue {new} file {i_OTHER001} problem {entry names item #, which holds key 'DAMAGED1'}"},
        {".index garbage", [&](auto &, auto &) { testutil::write_file(newq + ".index", "x\n"); },
         "queue {new} file {.index} problem {not an index value: 'x\\x0A'}"},
        {".index low", [&](auto &, auto &) { testutil::write_file(newq + ".index", "1\n"); },
         "queue {new} file {#} problem {item number above .index 1: a later put collides with it}"},
        {".head high", [&](auto &, auto &) { testutil::write_file(newq + ".head", "900\n"); },
         "queue {new} file {#} problem {item number below .head 900: counts and walks miss it}"},
        {"mode", [](auto &, const std::string &item) { chmod(item.c_str(), 0644); },
         "queue {new} file {#} problem {mode 0644, expected 0600}"},
        {"stray", [&](auto &, auto &) { testutil::write_file(newq + "junk", ""); },
         "queue {new} file {junk} problem {unexpected file}"},
        {"owner", [](auto &, const std::string &item) { (void)!chown(item.c_str(), 1, 1); },
         "queue {new} file {#} problem {owner uid 1, expected 0 (root)}"},
    };
    for (const Case &c : cases) {
        if (std::string(c.what) == "owner" && geteuid() != 0) continue;  // only root can give files away
        testutil::remove_tree(spool);
        configure(base_config());
        stage("DAMAGED1", {{"amount", "1.00"}});
        auto [number, file] = item_of(BX_STAT_NEW, "DAMAGED1");
        c.damage(number, file);
        Result r = brix({"check"});
        std::string finding = c.finding;
        if (size_t at = finding.find('#'); at != std::string::npos) finding.replace(at, 1, number);
        EXPECT_EQ(r.status, finding.empty() ? 0 : 1) << c.what << "\n" << r.out;
        if (finding.empty())
            EXPECT_EQ(r.out, "queues {9} items {1} findings {0}\n");
        else
            EXPECT_TRUE(has(r.out, finding + "\n")) << c.what << "\n" << r.out;
    }
}

// Repair resolves everything check reports, keeps the bytes of whatever it
// takes out of a queue in the quarantine folder, and says what it did.
TEST_F(BrixTool, RepairResolvesEveryFindingAndLosesNoBytes) {
    for (const char *inv : {"KEEP0001", "KEEP0002", "KEEP0003", "MOVED001"}) stage(inv, {{"amount", "1.00"}});
    const std::string newq = spool + "/new/";
    int torn = bx_queue_put(queue(BX_STAT_NEW), "0123456789", 10, "TORN0001");
    testutil::write_file(newq + std::to_string(torn), "TORN0001\n10\n0123");
    std::string first = item_of(BX_STAT_NEW, "KEEP0001").first;
    unlink((newq + "i_KEEP0001").c_str());                       // an orphan
    testutil::write_file(newq + "i_GHOST001", "77\n");            // an entry of nothing
    testutil::write_file(newq + "44.lock", "");                   // a lock of nothing
    // A second copy in one queue: the one the entry names stays.
    testutil::write_file(newq + "60", testutil::read_file(item_of(BX_STAT_NEW, "KEEP0002").second));
    // A copy in "done" changed later than the one in "new": it is the one kept.
    _bx_xaction x;
    ASSERT_TRUE(testutil::read_xaction(queue(BX_STAT_NEW), "MOVED001", x));
    x.time.done = x.time.creat + 60;
    char packed[4096];
    int len = bx_xaction_pack(packed, &x, sizeof packed);
    ASSERT_GE(bx_queue_put(queue(BX_STAT_DONE), packed, len, "MOVED001"), 1);
    testutil::write_file(newq + ".index", "1\n");
    testutil::write_file(newq + ".head", "900\n");

    Result r = brix({"repair"});
    EXPECT_EQ(r.status, 0) << r.out;
    std::string quarantine = spool + "/quarantine/";
    for (const std::string &line : std::vector<std::string>{
             "queue {new} file {" + std::to_string(torn) + "} change {quarantined (torn) as " + quarantine + "new." +
                 std::to_string(torn) + ".torn}\n",
             "queue {new} file {60} change {quarantined (duplicate) as " + quarantine + "new.60.duplicate}\n",
             "queue {new} file {44.lock} change {removed (lock file of a missing item)}\n",
             "queue {done} file {2} change {kept as the one copy of invoice MOVED001}\n",
             "queue {new} file {i_GHOST001} change {removed (was 77)}\n",
             "queue {new} file {i_KEEP0001} change {added: " + first + "}\n"})
        EXPECT_TRUE(has(r.out, line)) << line << r.out;
    EXPECT_TRUE(has(r.out, "failures {0}\n")) << r.out;
    EXPECT_EQ(testutil::read_file(quarantine + "new." + std::to_string(torn) + ".torn"), "TORN0001\n10\n0123");
    for (const char *inv : {"KEEP0001", "KEEP0002", "KEEP0003"}) EXPECT_EQ(bx_status(s, inv), BX_STAT_NEW) << inv;
    EXPECT_EQ(bx_status(s, "MOVED001"), BX_STAT_DONE);
    Result check = brix({"check"});
    EXPECT_EQ(check.out, "queues {9} items {4} findings {0}\n");
}

TEST_F(BrixTool, UsageErrorsAndFailuresAreOneLine) {
    for (const auto &args : std::vector<std::vector<std::string>>{
             {}, {"-c", "test"}, {"status", "x"}, {"-c", "test", "frob"}, {"-c", "test", "status"},
             {"-c", "test", "list", "all"}, {"-c", "test", "count", "bogus"}, {"-c", "test", "show", "new"},
             {"-c", "test", "report", "bogus"}, {"-c", "test", "add", "x", "nosuchfield", "1"},
             {"-c", "test", "--frob", "status", "x"}, {"-c", "test", "check", "x"}}) {
        Result r = tooltest::run(tooltest::brix_path(), args);
        EXPECT_EQ(r.status, 2) << (args.empty() ? "" : args.back());
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.find("usage: brix -c CONFIG"), 0u) << r.err;
    }
    struct Case {
        std::vector<std::string> args;
        std::string err;
    } cases[] = {
        {{"-c", "nosuch", "status", "x"}, "brix: nosuch: Unable to read BRIX user from config file.\n"},
        {{"-c", "../x", "status", "A"}, "brix: ../x: Configuration name '../x' is not a plain name.\n"},
        {{"-c", "test", "show", "auth", "NOPE"}, "brix: test: no transaction NOPE in queue 'auth'\n"},
        {{"-c", "test", "report", "server"}, "brix: test: no server report (" + spool + ".dstat)\n"},
    };
    for (const Case &c : cases) {
        Result r = tooltest::run(tooltest::brix_path(), c.args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, c.err);
    }
}

}  // namespace
