// The Royal Bank commands: the receipt text of every transaction type and
// queue, and the initialise command with its lock file.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>

#include "api/bx_api_add.h"
#include "api/bx_api_new.h"
#include "queue/qor_fdlib.h"
#include "tests/api/daemon.h"
#include "tests/commands/commands_fixture.h"
#include "tests/queue/queue_test_util.h"

using ctest::Commands;
using namespace std::string_literals;

namespace {

const char *kMerchant =
    "MerchantName: ACME SUPPLY\nMerchantStreet: 1 MAIN ST\nMerchantCity: TORONTO\n"
    "MerchantState: ON\nMerchantZIP: M5V1A1\nDeviceID: DEV01\n"
    "MerchantComment: Thank you\\nCome again\\\\ \\q\\\n";

class Receipt : public Commands {
protected:
    void SetUp() override {
        Commands::SetUp();
        open_protocol("RBank", kMerchant);
        put_record("SERVICES", "2\0V \0" "4\0" "5\0ZZ\0" "6\0" "7\0"s);
    }
    // A card sale of 1234.56 in `to`, as the daemon left it.
    void make(const char *inv, bx_queue to, const std::function<void(_bx_xaction &)> &change,
              const _bx_result *result, const char *card = "4111111111111111") {
        ASSERT_EQ(bx_new(s, inv), 0);
        const char *args[][2] = {{"amount", "1234.56"}, {"cardnum", card}, {"expdate", "1299"},
                                 {"accountname", "JOHN DOE"}, {"product", "WIDGET"}};
        for (auto &a : args) ASSERT_EQ(bx_add(s, inv, bx_str2arg(a[0]), a[1]), 0) << a[0];
        ASSERT_TRUE(testutil::daemon_move(s->new_, to, inv, [&](_bx_xaction &x) {
            x.bnum = 12, x.inum = 3;
            change(x);
        }, result));
    }
    static std::string text(const char *status, const char *type, const char *result_line,
                            const char *stamp = "7 Mar '00, 14:30:05", const char *author = "AB1234") {
        return "text {ok} status {"s + status + "} receipt {\n"
               "ACME SUPPLY\n1 MAIN ST\nTORONTO, ON M5V1A1   \n\n"
               "Thank you\nCome again\\ q\n\n"
               "Purchaser: JOHN DOE\nDescription: WIDGET\n\n"
               "Type: " + type + "\n\n"
               "Amount: $ 1234.56 CDN\nAcct: VISA\nCard Number: ************1111\n"
               "Expiry Date: 12/99\nDate/Time: " + stamp + "\n"
               "Reference #: DEV01  0010120030 M\nAuthor #: " + author + "\n\n" + result_line + "}";
    }
};

_bx_result approved() {
    _bx_result r = {};
    strcpy(r.rcodec, "000"), strcpy(r.rcodeiso, "00"), strcpy(r.authcode, "AB1234");
    strcpy(r.datestamp, "000307143005");
    return r;
}

TEST_F(Receipt, EveryTypeAndQueue) {
    _bx_result ok = approved(), declined = approved();
    declined.rcode = 5, strcpy(declined.rcodec, "051"), strcpy(declined.rcodeiso, "05");
    const char *ok_line = "00  Approved - Thank You  000\n";
    struct Case {
        bx_queue _bx_session::*queue;
        int code;
        const _bx_result *result;
        const char *status, *type, *result_line;
    } cases[] = {
        {&_bx_session::auth, 4, &ok, "auth", "Pre-Auth", ok_line},
        {&_bx_session::auth, 3, &ok, "auth", "Pre-Auth", ok_line},
        {&_bx_session::denied, 3, &declined, "denied", "Pre-Auth", "05  Transaction Not Approved  051\n"},
        {&_bx_session::done, 3, &ok, "done", "Pre-Auth Advice", ok_line},
        {&_bx_session::review, 6, &ok, "review", "Reversal", ok_line},
        {&_bx_session::bad, 2, &ok, "bad", "Refund", ok_line},
        {&_bx_session::done, 5, &ok, "done", "Refund Correction", ok_line},
        {&_bx_session::done, 9, &ok, "done", "Unknown", ok_line},
        {&_bx_session::done, 3, nullptr, "done", "Pre-Auth Advice", ""},
    };
    int n = 0;
    for (const Case &c : cases) {
        std::string inv = "R" + std::to_string(++n);
        make(inv.c_str(), s->*c.queue, [&](_bx_xaction &x) { x.subtype.code = c.code; }, c.result);
        EXPECT_EQ(bx_command(s, BX_CMD_RECEIPT, inv.c_str()), 0);
        EXPECT_EQ(s->apitext, text(c.status, c.type, c.result_line, c.result ? "7 Mar '00, 14:30:05" : "",
                                   c.result ? "AB1234" : ""));
    }
}

// Lines of unusual values; an invoice that has not been through the
// processor, none, or a record that is no transaction is refused.
TEST_F(Receipt, UnusualValuesAndRefusals) {
    struct Case {
        const char *card, *stamp;
        void (*change)(_bx_xaction &);
        const char *lines;
    } cases[] = {
        {"6123456", "991231235959", [](_bx_xaction &x) { x.amount = 5; },
         "Amount: $ 0.05 CDN\nAcct: UNKNOWN\nCard Number: ***3456\nExpiry Date: 12/99\nDate/Time: 31 Dec '99, 23:59:59\n"},
        {"5111", "001307143005", [](_bx_xaction &x) { strcpy(x.acc.card.edate, "129"); },
         "Acct: UNKNOWN\nCard Number: 5111\nExpiry Date: 129\nDate/Time: \n"},
        {"4111", "0003071430", [](_bx_xaction &) {}, "Date/Time: \n"},
        {"4111", "00a307143005", [](_bx_xaction &) {}, "Date/Time: \n"},
        {"4111", "000007143005", [](_bx_xaction &) {}, "Date/Time: \n"},
    };
    int n = 0;
    for (const Case &c : cases) {
        std::string inv = "U" + std::to_string(++n);
        _bx_result r = approved();
        strcpy(r.datestamp, c.stamp);
        make(inv.c_str(), s->done, c.change, &r, c.card);
        EXPECT_EQ(bx_command(s, BX_CMD_RECEIPT, inv.c_str()), 0);
        EXPECT_NE(std::string(s->apitext).find("\n"s + c.lines), std::string::npos) << inv << s->apitext;
    }
    ASSERT_EQ(bx_new(s, "W1"), 0);
    ASSERT_GE(bx_queue_put(s->auth, "junk", 4, "JUNKXXXX"), 1);
    const struct {
        const char *inv;
        int code;
        const char *text;
    } refused[] = {{"W1", -4, "text {bad invoice}"}, {"NOSUCH", -4, "text {bad invoice}"},
                   {"", -2, "text {the receipt command requires an invoice}"},
                   {nullptr, -2, "text {the receipt command requires an invoice}"},
                   {"junk", 128, "text {unable to unpack transaction}"}};
    for (auto &c : refused) {
        EXPECT_EQ(bx_command(s, BX_CMD_RECEIPT, c.inv), c.code);
        EXPECT_STREQ(s->apitext, c.text);
    }
}

TEST_F(Commands, InitialiseWaitsForTheLockAndClearsTheFlag) {
    open_protocol("RBank");
    std::string lockfile = spool + "/INITREQF.use.lock";
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t child = qtest::spawn([&] {
        int fd = qor_fdlib_createlockfile(lockfile.c_str());
        if (qor_fdlib_lockfd(fd, QOR_FDLIB_EXCLUSIVE, QOR_FDLIB_WAIT) != 0) return 1;
        if (write(ready[1], "L", 1) != 1) return 2;
        usleep(300000);
        // Nothing may be written while the lock is held; exit releases it.
        return testutil::exists(spool + "/globals/i_INITREQF") ? 3 : 0;
    });
    char c;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    EXPECT_EQ(bx_command(s, BX_CMD_INITIALIZE, ""), 0);
    EXPECT_EQ(qtest::wait_exit(child), 0);
    EXPECT_STREQ(s->apitext, "");
    EXPECT_EQ(record("INITREQF"), "0\0" "0\0"s);
    EXPECT_EQ(s->dll.flags.needs_init_valid, 0);
    EXPECT_EQ(s->dll.flags.needs_init_lockfd, -1);
    close(ready[0]), close(ready[1]);

    EXPECT_EQ(bx_command(s, BX_CMD_INITIALIZE, " "), -2);
    EXPECT_STREQ(s->apitext, "text {the initialize command has no argument}");
    // The lock cannot be had (the call after the lock file's open fails):
    // the descriptor is closed and forgotten.
    int fds = qtest::open_fd_count();
    qor_fdlib_fail_nth(2, EDEADLK);
    EXPECT_EQ(bx_command(s, BX_CMD_INITIALIZE, nullptr), 4);
    qor_fdlib_fail_nth(0, 0);
    EXPECT_STREQ(s->apitext, "text {unable to lock init flag}");
    EXPECT_EQ(s->dll.flags.needs_init_lockfd, -1);
    EXPECT_EQ(qtest::open_fd_count(), fds);
    // The lock file cannot be opened.
    unlink(lockfile.c_str());
    mkdir(lockfile.c_str(), 0700);
    EXPECT_EQ(bx_command(s, BX_CMD_INITIALIZE, nullptr), 4);
    EXPECT_STREQ(s->apitext, "text {unable to create lock for init flag}");
    EXPECT_EQ(s->dll.flags.needs_init_lockfd, -1);
}

}  // namespace
