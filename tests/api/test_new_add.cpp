// Creating and filling transactions through bx_new and bx_add: the stored
// records, the exact on-disk layout, every argument code, and refusals
// that leave the stored record unchanged.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>

#include "api/bx_api_add.h"
#include "api/bx_api_new.h"
#include "api/bx_api_status.h"
#include "queue/qor_fdlib.h"
#include "tests/api/daemon.h"
#include "tests/brix_fixture.h"

using testutil::BrixTest;
using testutil::LogCapture;
using testutil::read_file;

namespace {

class NewAdd : public BrixTest {
protected:
    bx_session s = nullptr;
    // Opens a session; one opened before is closed and its spool removed.
    void open_protocol(const std::string &protocol) {
        if (s) {
            bx_done(s);
            s = nullptr;
            testutil::remove_tree(spool);
        }
        s = open(base_config(protocol));
        ASSERT_NE(s, nullptr) << bx_initerror;
    }
    void TearDown() override {
        bx_done(s);
        BrixTest::TearDown();
    }
    _bx_xaction stored(const char *invoice, bx_queue q = nullptr) {
        _bx_xaction x = {};
        EXPECT_TRUE(testutil::read_xaction(q ? q : s->new_, invoice, x)) << invoice;
        return x;
    }
    // The stored stream of an invoice in "new" (the item file's data).
    std::string stored_stream(const char *invoice) {
        bx_queue_item item = bx_queue_find_item(s->new_, invoice);
        if (!item) return "";
        std::string data(item->buf, item->size);
        bx_queue_item_close(s->new_, item);
        return data;
    }
};

TEST_F(NewAdd, NewStoresARecordOfTheSessionKind) {
    struct Case {
        const char *protocol;
        int dbtype, pflag, code, format;
    } cases[] = {{"demo", 1, 42, 4, 6}, {"demc", 2, 1, 4, 98}, {"SWACH", 3, 1, 3, 95}};
    for (const auto &c : cases) {
        open_protocol(c.protocol);
        time_t before = time(nullptr);
        EXPECT_EQ(bx_new(s, "inv-42"), 0) << c.protocol;
        EXPECT_STREQ(s->apitext, "");
        _bx_xaction x = stored("inv-42");
        EXPECT_STREQ(x.data.retail.invoice, "INV42XXX");
        EXPECT_EQ(x.dbtype, c.dbtype);
        EXPECT_EQ(x.subtype.pflag, c.pflag);
        EXPECT_EQ(x.subtype.ptype, 1);
        EXPECT_EQ(x.subtype.type, 0);
        EXPECT_EQ(x.subtype.code, c.code);
        EXPECT_EQ(x.subtype.format, c.format);
        EXPECT_GE(x.time.creat, before);
        EXPECT_LE(x.time.creat, time(nullptr));
        EXPECT_EQ(bx_status(s, "inv-42"), 1);
    }
}

TEST_F(NewAdd, NewLaysOutTheQueueFilesExactly) {
    open_protocol("demo");
    ASSERT_EQ(bx_new(s, "inv-42"), 0);
    std::string dir = spool + "/new";
    EXPECT_EQ(testutil::list_dir(dir),
              (std::vector<std::string>{".dblock", ".head", ".index", ".lock", "2", "i_INV42XXX"}));
    EXPECT_EQ(read_file(dir + "/.index"), "2\n");
    EXPECT_EQ(read_file(dir + "/.head"), "1\n");
    EXPECT_EQ(read_file(dir + "/i_INV42XXX"), "2\n");
    std::string stream = stored_stream("inv-42");
    EXPECT_EQ(read_file(dir + "/2"), "INV42XXX\n" + std::to_string(stream.size()) + "\n" + stream);
    EXPECT_EQ(stream.compare(0, 18, std::string("BRIXDB\0" "1\0" "INV42XXX\0", 18)), 0);
    for (const char *f : {"2", "i_INV42XXX", ".index", ".head"})
        EXPECT_EQ(testutil::file_mode(dir + "/" + f), 0600) << f;
    // Reading the item made its lock file; bx_add replaces the item: a new
    // number, the old item and lock files gone.
    EXPECT_TRUE(testutil::exists(dir + "/2.lock"));
    ASSERT_EQ(bx_add(s, "inv-42", 1, "12.34"), 0);
    EXPECT_EQ(testutil::list_dir(dir),
              (std::vector<std::string>{".dblock", ".head", ".index", ".lock", "3", "i_INV42XXX"}));
    EXPECT_EQ(read_file(dir + "/.index"), "3\n");
    EXPECT_EQ(read_file(dir + "/i_INV42XXX"), "3\n");
}

TEST_F(NewAdd, InvoiceInUseInAnyQueueIsRefused) {
    open_protocol("demo");
    ASSERT_EQ(bx_new(s, "A1"), 0);
    EXPECT_EQ(bx_new(s, "a1"), -3);
    EXPECT_STREQ(s->apitext, "text {invoice already in use}");
    for (bx_queue q : {s->done, s->bad, s->review}) {
        ASSERT_TRUE(testutil::daemon_move(s->new_, q, "A1"));
        EXPECT_EQ(bx_new(s, "A1"), -3);
        EXPECT_STREQ(s->apitext, "text {invoice already in use}");
        ASSERT_TRUE(testutil::daemon_move(q, s->new_, "A1"));
    }
}

TEST_F(NewAdd, LongInvoiceIsFoundByTheTextThatCreatedIt) {
    open_protocol("demo");
    struct Case {
        const char *text, *key;
    } cases[] = {{"!!!!!!!!AB", "ABXXXXXX"}, {"ab#cdefghij", "ABCDEFGH"}, {"12345678901", "12345678"}};
    for (const auto &c : cases) {
        ASSERT_EQ(bx_new(s, c.text), 0) << c.text;
        EXPECT_EQ(bx_status(s, c.text), 1) << c.text;
        EXPECT_EQ(bx_add(s, c.text, 1, "1.00"), 0) << c.text;
        EXPECT_EQ(stored(c.key).amount, 100) << c.text;
        EXPECT_EQ(bx_new(s, c.text), -3) << c.text;
    }
}

TEST_F(NewAdd, NoSessionAndNullTexts) {
    EXPECT_EQ(bx_new(nullptr, "x"), -7);
    EXPECT_EQ(bx_add(nullptr, "x", 1, "1"), -7);
    EXPECT_EQ(bx_status(nullptr, "x"), -7);
    open_protocol("demo");
    EXPECT_EQ(bx_new(s, nullptr), 0);  // the empty invoice: XXXXXXXX
    EXPECT_EQ(bx_status(s, ""), 1);
    EXPECT_EQ(bx_add(s, nullptr, 1, nullptr), 128);
    EXPECT_STREQ(s->apitext, "text {could not set amount}");
}

TEST_F(NewAdd, AddRefusesUnknownAndUnchangeableInvoices) {
    open_protocol("demo");
    EXPECT_EQ(bx_add(s, "nosuch", 1, "1.00"), -4);
    EXPECT_STREQ(s->apitext, "text {no such transaction}");
    ASSERT_EQ(bx_new(s, "inv1"), 0);
    ASSERT_TRUE(testutil::daemon_move(s->new_, s->auth, "inv1"));
    EXPECT_EQ(bx_add(s, "inv1", 1, "1.00"), -4);
    EXPECT_STREQ(s->apitext, "text {not valid for this transaction}");
}

// One accepted value per argument code, checked on the stored record.
TEST_F(NewAdd, EveryArgumentCodeStoresItsField) {
    struct Case {
        const char *protocol;
        int code;
        const char *value;
        std::function<bool(const _bx_xaction &)> check;
    } cases[] = {
        {"demo", 1, "$ 12.34 ", [](auto &x) { return x.amount == 1234; }},
        {"demo", 2, "4111-1111 1111 1111", [](auto &x) { return !strcmp(x.acc.card.num, "4111111111111111"); }},
        {"demo", 3, "12/05", [](auto &x) { return !strcmp(x.acc.card.edate, "1205"); }},
        {"demo", 4, "123 Main St", [](auto &x) { return !strcmp(x.data.retail.addr, "123") && x.data.retail.avsflag == 1; }},
        {"demo", 5, "62701-1234", [](auto &x) { return !strcmp(x.data.retail.zip, "627011234"); }},
        {"demo", 6, "gift/wrap, please", [](auto &x) { return !strcmp(x.data.retail.comment, "GIFTWRAP, PLEASE"); }},
        {"demo", 7, "Mail", [](auto &x) { return x.rtype == 1 && x.data.retail.moto == '1'; }},
        {"demo", 7, "ECOMMERCE", [](auto &x) { return x.rtype == 8 && x.data.retail.moto == 0; }},
        {"demc", 9, "0210-0002-1", [](auto &x) { return !strcmp(x.acc.check.troutnum, "021000021"); }},
        {"demc", 10, "12 34 56", [](auto &x) { return !strcmp(x.acc.check.bankaccnum, "123456"); }},
        {"demc", 11, "#1001", [](auto &x) { return !strcmp(x.acc.check.checknum, "1001"); }},
        {"demc", 12, "D123-456*7", [](auto &x) { return !strcmp(x.data.check.licensenum, "D123456*7") && x.data.check.dvsflag == 1; }},
        {"demc", 13, "il", [](auto &x) { return !strcmp(x.data.check.licensestate, "13"); }},
        {"TeleCheck", 13, "ny", [](auto &x) { return !strcmp(x.data.check.licensestate, "69"); }},
        {"SWACH", 14, "John Q. Public", [](auto &x) { return !strcmp(x.acc.check.accname, "John Q. Public"); }},
        {"SWACH", 15, "Savings", [](auto &x) { return x.acc.check.acctype == 2; }},
        {"demo", 16, "Widget", [](auto &x) { return !strcmp(x.acc.check.product, "Widget"); }},
        {"demo", 17, "123456789", [](auto &x) { return !strcmp(x.authcode, "12345678"); }},
        {"demo", 18, "1.00", [](auto &x) { return x.tax == 100; }},
        {"demo", 19, "B4111111111111111^DOE/JOHN^0512101", [](auto &x) { return !strcmp(x.acc.card.edate, "1205") && !strcmp(x.acc.card.num, "4111111111111111"); }},
        {"demo", 20, "4111111111111111=0512101", [](auto &x) { return !strcmp(x.track2, "4111111111111111=0512101"); }},
        {"demo", 21, "Customer", [](auto &x) { return x.entrysource == 2; }},
        {"demo", 22, "PO-1", [](auto &x) { return !strcmp(x.purchaseorder, "PO-1"); }},
        {"demo", 23, "k1a 0b1", [](auto &x) { return !strcmp(x.ship_zip, "k1a0b1"); }},
        {"demo", 24, "YES", [](auto &x) { return x.encryption == 1; }},
        {"demo", 25, "merchant-cert", [](auto &x) { return !strcmp(x.set_merchant, "merchant-cert"); }},
        {"demo", 26, "holder-cert", [](auto &x) { return !strcmp(x.set_cardholder, "holder-cert"); }},
        {"demo", 27, "NotPrinted", [](auto &x) { return x.cvv2.status == 4; }},
        {"demo", 27, "12a3", [](auto &x) { return x.cvv2.status == 2 && !strcmp(x.cvv2.val, "123"); }},
    };
    for (const auto &c : cases) {
        open_protocol(c.protocol);
        ASSERT_EQ(bx_new(s, "inv"), 0);
        EXPECT_EQ(bx_add(s, "inv", c.code, c.value), 0) << c.code << " " << c.value << ": " << s->apitext;
        EXPECT_STREQ(s->apitext, "");
        EXPECT_TRUE(c.check(stored("inv"))) << c.protocol << " " << c.code << " " << c.value;
    }
}

// Refusals: their answer and code, and the stored stream left as it was.
TEST_F(NewAdd, RefusalsLeaveTheStoredRecordUnchanged) {
    struct Case {
        const char *protocol;
        int code;
        const char *value;
        int result;
        const char *text;
    } cases[] = {
        {"demo", 1, "12.3", 128, "text {could not set amount}"},
        {"demo", 1, "$1,000.00", 128, "text {could not set amount}"},
        {"demo", 1, "0", 128, "text {could not set amount}"},
        {"demo", 1, "1000000.00", 128, "text {could not set amount}"},
        {"demo", 3, "1/05", 128, "text {could not set exp date}"},
        {"demo", 7, "wire", 128, "text {invalid type}"},
        {"demc", 13, "ZZ", -2, "text {unknown drivers license state}"},
        {"VITAL", 13, "NY", -2, "text {unknown drivers license state}"},
        {"SWACH", 15, "checking", 128, "text {invalid account type}"},
        {"demo", 18, "0.00", 128, "text {could not set tax}"},
        {"demo", 21, "clerk", -2, "text {could not set entry source}"},
        {"demo", 24, "maybe", -2, "text {could not set cardholder-merchant encryption level}"},
        {"demo", 27, "abc", -2, "text {could not set CVV2 value}"},
        {"demo", 0, "x", -2, "text {unrecognized argument type}"},
        {"demo", 8, "new", -2, "text {unrecognized argument type}"},
        {"demo", 28, "x", -2, "text {unrecognized argument type}"},
        {"demo", -1, "x", -2, "text {unrecognized argument type}"},
    };
    for (const auto &c : cases) {
        open_protocol(c.protocol);
        ASSERT_EQ(bx_new(s, "inv"), 0);
        ASSERT_EQ(bx_add(s, "inv", 1, "5.00"), 0);
        std::string before = stored_stream("inv");
        LogCapture log;
        EXPECT_EQ(bx_add(s, "inv", c.code, c.value), c.result) << c.code << " " << c.value;
        EXPECT_STREQ(s->apitext, c.text) << c.code << " " << c.value;
        EXPECT_EQ(stored_stream("inv"), before) << c.code << " " << c.value;
        EXPECT_TRUE(log.texts().empty()) << "argument refusals are not logged";
    }
}

TEST_F(NewAdd, SetterOfAnotherKindStoresTheRecordUnchanged) {
    open_protocol("demc");
    ASSERT_EQ(bx_new(s, "chk"), 0);
    std::string before = stored_stream("chk");
    EXPECT_EQ(bx_add(s, "chk", 2, "4111111111111111"), 0);
    EXPECT_EQ(stored_stream("chk"), before);
}

TEST_F(NewAdd, MissingNewQueueFailsCleanly) {
    mkdir(spool.c_str(), 0700);
    testutil::write_file(spool + "/new", "not a directory");
    open_protocol("demo");
    ASSERT_EQ(s->new_, nullptr);
    LogCapture log;
    EXPECT_EQ(bx_new(s, "inv"), -5);
    EXPECT_TRUE(log.contains("NonFatal error: bx_new: queue 'new' is not open\n"));
    EXPECT_EQ(bx_add(s, "inv", 1, "1.00"), -4);
}

}  // namespace

namespace {

// Fails the file-system calls of op one at a time (error EIO) until the
// log shows `line`; returns op's result then, or 999 when no call did.
// reset puts things back before each try.
int fail_until(const std::function<int()> &op, const std::string &line, LogCapture &log,
               const std::function<void()> &reset) {
    for (unsigned long n = 1; n < 400; n++) {
        reset();
        log.clear();
        qor_fdlib_fail_nth(n, EIO);
        int rc = op();
        qor_fdlib_fail_nth(0, 0);
        if (log.contains(line)) return rc;
    }
    return 999;
}

const std::string kEio = strerror(EIO);

TEST_F(NewAdd, StorageFailuresAreLoggedAndStoreNothing) {
    open_protocol("demo");
    auto forget = [&] {
        if (bx_queue_item item = bx_queue_find_item(s->new_, "inv-1")) bx_queue_item_delete(s->new_, item);
    };
    LogCapture log;
    EXPECT_EQ(fail_until([&] { return bx_new(s, "inv-1"); },
                         "NonFatal error: " + kEio + ": Unable to lock database to store transaction inv-1\n",
                         log, forget), -5);
    EXPECT_EQ(bx_status(s, "inv-1"), 0);
    EXPECT_EQ(fail_until([&] { return bx_new(s, "inv-1"); },
                         "NonFatal error: Unable to insert transaction inv-1 into database\n", log, forget),
              128);
    EXPECT_EQ(bx_status(s, "inv-1"), 0) << "a failed store leaves nothing behind";

    ASSERT_EQ(bx_new(s, "inv-1"), 0);
    ASSERT_EQ(bx_add(s, "inv-1", 1, "5.00"), 0);
    std::string before = stored_stream("inv-1");
    struct Case {
        std::string line, text;
        int result;
    } cases[] = {
        {"NonFatal error: " + kEio + ": Unable to lock database to update transaction inv-1\n",
         "text {unable to lock database}", -5},
        {"NonFatal error: Unable to insert transaction inv-1 into database\n", "", -5},
    };
    auto restore = [&] {
        if (stored_stream("inv-1") != before)
            bx_queue_put(s->new_, before.data(), (int)before.size(), "INV1XXXX");
    };
    for (const auto &c : cases) {
        EXPECT_EQ(fail_until([&] { return bx_add(s, "inv-1", 1, "7.00"); }, c.line, log, restore),
                  c.result)
            << c.line;
        EXPECT_STREQ(s->apitext, c.text.c_str());
        EXPECT_EQ(stored_stream("inv-1"), before) << "the stored record is unchanged";
    }
}

TEST_F(NewAdd, UnreadableStoredTransactionIsNotOverwritten) {
    open_protocol("demo");
    ASSERT_EQ(bx_queue_put(s->new_, "not a stream", 12, "BROKENXX"), 2);
    LogCapture log;
    EXPECT_EQ(bx_add(s, "broken", 1, "1.00"), 128);
    EXPECT_STREQ(s->apitext, "text {unable to unpack transaction}");
    EXPECT_TRUE(log.contains("NonFatal error: Problem unpacking transaction broken\n"));
    EXPECT_EQ(stored_stream("broken"), "not a stream");
}

}  // namespace
