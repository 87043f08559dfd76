// The UTF resend command and the Nashville phone-number command.
#include <cerrno>
#include <utility>

#include "api/bx_api_new.h"
#include "commands/bx_cmd_nash.h"
#include "queue/qor_fdlib.h"
#include "tests/api/daemon.h"
#include "tests/commands/commands_fixture.h"

using ctest::Commands;
using namespace std::string_literals;

namespace {

class Resend : public Commands {
protected:
    void SetUp() override {
        Commands::SetUp();
        open_protocol("UTF");
        const std::pair<const char *, int> batches[] = {{"A", 7}, {"B", 8}, {"C", 7}};
        for (auto [inv, batch] : batches) {
            ASSERT_EQ(bx_new(s, inv), 0);
            ASSERT_TRUE(testutil::daemon_move(s->new_, s->bad, inv, [b = batch](_bx_xaction &x) { x.bnum = b; }));
        }
    }
    bool in(bx_queue q, const char *inv) {
        _bx_xaction x;
        return testutil::read_xaction(q, inv, x);
    }
};

TEST_F(Resend, MovesOneBatchFromBadToReady) {
    // A stored item that is no transaction stays where it is.
    ASSERT_GE(bx_queue_put(s->bad, "junk", 4, "JUNKXXXX"), 1);
    testutil::LogCapture log;
    EXPECT_EQ(bx_command(s, BX_CMD_RESEND, "7"), 0);
    EXPECT_STREQ(s->apitext, "text {batch 7 is ready for re-uploading -- 2 items}");
    EXPECT_TRUE(log.contains("NonFatal error: Problem unpacking transaction JUNKXXXX\n"));
    EXPECT_EQ(bx_queue_count(s->bad), 2);
    EXPECT_TRUE(in(s->bad, "B"));
    _bx_xaction x;
    ASSERT_TRUE(testutil::read_xaction(s->ready, "C", x));
    EXPECT_EQ(x.bnum, 7);
    EXPECT_TRUE(in(s->ready, "A"));
    struct Case {
        const char *arg;
        int code;
        const char *text;
    } cases[] = {
        {"7", 5, "text {there are no items in the bad queue with batch number 7}"},
        {"abc", 5, "text {there are no items in the bad queue with batch number 0}"},
        {"", -2, "text {the resend command requires a batch number}"},
        {nullptr, -2, "text {the resend command requires a batch number}"},
        {"8x", 0, "text {batch 8 is ready for re-uploading -- 1 items}"},
        {"8", 5, "text {there are no items in the bad queue with batch number 8}"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(bx_command(s, BX_CMD_RESEND, c.arg), c.code) << (c.arg ? c.arg : "none");
        EXPECT_STREQ(s->apitext, c.text);
    }
}

// Whichever file-system call fails, no transaction is lost: each is in
// "bad" or "ready", and a store that fails leaves its item in "bad".
TEST_F(Resend, AFailedStoreLeavesTheItemInBad) {
    testutil::LogCapture log;
    bool store_failed = false;
    std::string snapshot = dir / "snapshot";
    testutil::copy_tree(spool, snapshot);
    for (unsigned long n = 1; n < 400 && !store_failed; n++) {
        bx_done(s);
        testutil::copy_tree(snapshot, spool);
        s = bx_init("test");
        ASSERT_NE(s, nullptr);
        log.clear();
        qor_fdlib_fail_nth(n, EIO);
        int rc = bx_command(s, BX_CMD_RESEND, "7");
        qor_fdlib_fail_nth(0, 0);
        SCOPED_TRACE(n);
        for (const char *inv : {"A", "C"}) EXPECT_TRUE(in(s->bad, inv) || in(s->ready, inv)) << inv;
        EXPECT_TRUE(in(s->bad, "B"));
        if (log.contains("NonFatal error: Unable to insert transaction AXXXXXXX into database\n")) {
            store_failed = true;
            EXPECT_EQ(rc, 128);
            EXPECT_STREQ(s->apitext, "text {unable to store transaction in the ready queue}");
            EXPECT_TRUE(in(s->bad, "A"));
            EXPECT_FALSE(in(s->ready, "A"));
        }
    }
    EXPECT_TRUE(store_failed);
}

TEST_F(Commands, PhoneNumbersShownSetAndReset) {
    open_protocol("Nashville", "PhoneNumber: 5550000\n");
    struct Step {
        const char *arg;
        int code;
        const char *text;
        std::string stored;   // the record afterwards, "-" none
        std::string daemon = "";  // stored by the daemon before the step
    } steps[] = {
        {nullptr, 0, "text {primary 5550000, secondary 5550000}", "-"},
        {"5551234", 0, "text {set primary to 5551234}", "5551234\0\0"s},
        {",5559876", 0, "text {set secondary to 5559876}", "5551234\0" "5559876\0"s},
        {"5554321,", 0, "text {set primary to 5554321}", "5554321\0" "5559876\0"s},
        {"1,2,3", 0, "text {set primary to 1, secondary to 2,3}", "1\0" "2,3\0"s},
        {"none", -2, "text {invalid phone number -- no digits}", "1\0" "2,3\0"s},
        {"", 0, "text {primary 1, secondary 2,3}", "1\0" "2,3\0"s},
        {nullptr, 0, "text {primary 9, secondary 5550000}", "9\0\0"s, "9\0\0"s},
        {"1234567890123456789012345678901234567890", 0,
         "text {set primary to 12345678901234567890123456789012}",
         "12345678901234567890123456789012\0\0"s},
        {"RESET", 0, "text {reset phone numbers to configured defaults}", "\0\0"s},
        {nullptr, 0, "text {primary 5550000, secondary 5550000}", "\0\0"s},
    };
    for (const Step &st : steps) {
        if (!st.daemon.empty()) put_record("PHONENUM", st.daemon);
        EXPECT_EQ(bx_command(s, BX_CMD_PHONENUM, st.arg), st.code) << (st.arg ? st.arg : "none");
        EXPECT_STREQ(s->apitext, st.text);
        EXPECT_EQ(record("PHONENUM"), st.stored) << st.text;
    }
    open_protocol("Nashville");
    EXPECT_EQ(bx_command(s, BX_CMD_PHONENUM, nullptr), 0);
    EXPECT_STREQ(s->apitext, "text {primary , secondary }");
    EXPECT_EQ(no_digits(""), 1);
    EXPECT_EQ(no_digits("a-b"), 1);
    EXPECT_EQ(no_digits("x9"), 0);
}

}  // namespace
