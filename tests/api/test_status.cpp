// Status texts of invoices in every queue, built from records that carry
// a processor result the way the daemon writes them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "api/bx_api_add.h"
#include "api/bx_api_new.h"
#include "api/bx_api_status.h"
#include "support/qor_util.h"
#include "tests/api/daemon.h"
#include "tests/brix_fixture.h"

using testutil::BrixTest;

namespace {

class Status : public BrixTest {
protected:
    bx_session s = nullptr;
    void SetUp() override {
        BrixTest::SetUp();
        setenv("TZ", "UTC", 1);
        tzset();
        s = open(base_config());
        ASSERT_NE(s, nullptr) << bx_initerror;
    }
    void TearDown() override {
        bx_done(s);
        BrixTest::TearDown();
    }
    // Creates invoice with amount 12.34 and moves it into q, changing the
    // record and folding in result on the way.
    void place(const char *invoice, bx_queue q, const std::function<void(_bx_xaction &)> &change,
               const _bx_result *result = nullptr) {
        ASSERT_EQ(bx_new(s, invoice), 0);
        ASSERT_EQ(bx_add(s, invoice, 1, "12.34"), 0);
        auto fixed = [&](_bx_xaction &x) {
            x.time.creat = 1000000000;  // Sun Sep  9 01:46:40 2001
            if (change) change(x);
        };
        ASSERT_TRUE(testutil::daemon_move(s->new_, q, invoice, fixed, result));
    }
};

_bx_result approved(char avs, char cvv2, const char *text = "APPROVED 123456", const char *iso = "00") {
    _bx_result r = {};
    strcpy(r.authcode, "123456");
    strcpy(r.text, text);
    strcpy(r.rcodeiso, iso);
    r.data.retail.avs_code = avs;
    r.cvv2.code = cvv2;
    return r;
}

TEST_F(Status, NoneShowsTheFirstEightCharactersAsGiven) {
    EXPECT_EQ(bx_status(s, "inv-9999999"), 0);
    EXPECT_STREQ(s->apitext, "invoice {inv-9999} status {none}");
    EXPECT_EQ(bx_status(s, ""), 0);
    EXPECT_STREQ(s->apitext, "invoice {} status {none}");
}

TEST_F(Status, TheWholeSaleExample) {
    _bx_result r = approved('Y', 'M');
    place("inv-42", s->ready, [](_bx_xaction &x) {
        x.tax = 100;
        x.rtype = 1;
        x.entrysource = 1;
        x.time.auth = 1000000060;
        x.time.ready = 1000000120;
        x.data.retail.avsflag = 1;
        x.cvv2.status = 2;
    }, &r);
    EXPECT_EQ(bx_status(s, "inv-42"), 4);
    EXPECT_STREQ(s->apitext,
                 "status {ready} invoice {INV42XXX} amount {12.34} tax {1.00} type {mail} "
                 "entrysource {merchant} newtime {Sun Sep  9 01:46:40 2001} "
                 "authtime {Sun Sep  9 01:47:40 2001} readytime {Sun Sep  9 01:48:40 2001} "
                 "acode {123456} avs {ok} avs_addr {ok} avs_zip {partial} cvv2 {ok} "
                 "result_text {APPROVED 123456} result_iso {00}");
}

TEST_F(Status, EveryQueueHasItsWordAndBit) {
    struct Case {
        bx_queue _bx_session::*queue;
        int bit;
        const char *word;
    } cases[] = {{&_bx_session::auth, 2, "auth"},     {&_bx_session::ready, 4, "ready"},
                 {&_bx_session::done, 8, "done"},     {&_bx_session::unauth, 16, "unauth"},
                 {&_bx_session::denied, 32, "denied"}, {&_bx_session::review, 64, "review"},
                 {&_bx_session::bad, 128, "bad"}};
    for (const auto &c : cases) {
        std::string inv = std::string("Q") + c.word;
        place(inv.c_str(), s->*c.queue, nullptr);
        EXPECT_EQ(bx_status(s, inv.c_str()), c.bit);
        std::string key = (std::string("Q") + c.word + "XXXXXXXX").substr(0, 8);
        for (char &ch : key) ch = static_cast<char>(toupper(ch));
        EXPECT_EQ(std::string(s->apitext), std::string("status {") + c.word + "} invoice {" + key +
                                               "} amount {12.34} newtime {Sun Sep  9 01:46:40 2001}");
    }
    ASSERT_EQ(bx_new(s, "fresh"), 0);
    EXPECT_EQ(bx_status(s, "fresh"), 1);
    EXPECT_EQ(std::string(s->apitext).rfind("status {new} invoice {FRESHXXX} amount {0.00} newtime {", 0), 0u);
}

TEST_F(Status, EarliestQueueOfTheSearchOrderWins) {
    place("dup", s->auth, nullptr);
    // The same invoice also stands in "bad": bad is asked first.
    ASSERT_EQ(bx_new(s, "dup"), -3);
    place("other", s->bad, [](_bx_xaction &x) { strcpy(x.data.retail.invoice, "DUPXXXXX"); });
    EXPECT_EQ(bx_status(s, "dup"), 128);
}

TEST_F(Status, AmountsByOperationAndPieces) {
    struct Case {
        std::function<void(_bx_xaction &)> change;
        const char *expect;  // after "status {done} invoice {PXXXXXXX} "
    } cases[] = {
        {[](auto &x) { x.subtype.code = 2; x.amount = 500; }, "amount {-5.00}"},
        {[](auto &x) { x.subtype.code = 5; }, "amount {0.00}"},
        {[](auto &x) { x.subtype.code = 6; }, "amount {0.00}"},
        {[](auto &x) { x.amount = 5; x.tax = 5; }, "amount {0.05} tax {0.05}"},
        {[](auto &x) { x.amount = 99999999; }, "amount {999999.99}"},
        {[](auto &x) { x.rtype = 8; }, "amount {12.34}"},
        {[](auto &x) { x.rtype = 7; x.entrysource = 2; }, "amount {12.34} type {test} entrysource {customer}"},
        {[](auto &x) { x.rtype = 9; x.entrysource = 3; }, "amount {12.34}"},
        {[](auto &x) { strcpy(x.data.retail.comment, "GIFT"); strcpy(x.authcode, "A1");
                       strcpy(x.acc.check.accname, "J DOE"); strcpy(x.acc.check.product, "WIDGET"); },
         "amount {12.34} comment {GIFT} acode {A1} accountname {J DOE} product {WIDGET}"},
        {[](auto &x) { x.subtype.format = 98; strcpy(x.data.retail.comment, "GIFT"); }, "amount {12.34}"},
        {[](auto &x) { x.time.done = 1000000000; }, "amount {12.34} donetime {Sun Sep  9 01:46:40 2001}"},
        // A merchant's AVS address but no result: no result pieces.
        {[](auto &x) { x.data.retail.avsflag = 1; x.cvv2.status = 2; }, "amount {12.34}"},
    };
    int i = 0;
    for (const auto &c : cases) {
        std::string inv = "P" + std::to_string(i++);
        place(inv.c_str(), s->done, [&](_bx_xaction &x) {
            x.time.creat = 0;
            c.change(x);
        });
        EXPECT_EQ(bx_status(s, inv.c_str()), 8);
        std::string key = inv + std::string(8 - inv.size(), 'X');
        EXPECT_EQ(std::string(s->apitext), "status {done} invoice {" + key + "} " + c.expect);
    }
}

TEST_F(Status, AvsAndCvv2Tables) {
    struct Avs {
        char code;
        const char *piece;
    } avs[] = {
        {'X', " avs {ok} avs_addr {ok} avs_zip {ok}"},
        {'Y', " avs {ok} avs_addr {ok} avs_zip {partial}"},
        {'A', " avs {fail} avs_addr {ok} avs_zip {fail}"},
        {'W', " avs {fail} avs_addr {fail} avs_zip {ok}"},
        {'Z', " avs {fail} avs_addr {fail} avs_zip {partial}"},
        {'N', " avs {fail} avs_addr {fail} avs_zip {fail}"},
        {'R', " avs {reenter}"}, {'S', " avs {unsupported}"}, {'U', " avs {unavailable}"},
        {'G', " avs {record not found}"}, {'5', " avs {invalid response from processor}"},
        {'9', " avs {invalid data}"}, {'E', " avs {transaction ineligible}"},
        {'B', " avs {unknown status}"}, {'y', " avs {unknown status}"}, {0, " avs {unknown status}"},
    };
    struct Cvv {
        char code;
        const char *piece;
    } cvv[] = {{'M', " cvv2 {ok}"}, {'N', " cvv2 {fail}"}, {'P', " cvv2 {not processed}"},
               {'S', " cvv2 {should be on card}"}, {'U', " cvv2 {unavailable}"},
               {'m', " cvv2 {unknown status}"}, {'X', " cvv2 {unknown status}"}};
    int i = 0;
    for (const auto &a : avs) {
        std::string inv = "AV" + std::to_string(i++);
        _bx_result r = approved(a.code, 'M', "OK", "");
        place(inv.c_str(), s->auth, [](auto &x) { x.time.creat = 0; x.data.retail.avsflag = 1; }, &r);
        bx_status(s, inv.c_str());
        std::string text = s->apitext;
        EXPECT_NE(text.find(std::string(" acode {123456}") + a.piece + " result_text {OK}"),
                  std::string::npos) << text;
        EXPECT_EQ(text.find("cvv2"), std::string::npos) << "no CVV2 given";
        EXPECT_EQ(text.find("result_iso"), std::string::npos) << "empty ISO code";
    }
    for (const auto &c : cvv) {
        std::string inv = "CV" + std::to_string(i++);
        _bx_result r = approved('X', c.code, "", "05");
        place(inv.c_str(), s->auth, [](auto &x) { x.time.creat = 0; x.cvv2.status = 1; }, &r);
        bx_status(s, inv.c_str());
        std::string text = s->apitext;
        EXPECT_NE(text.find(std::string(" acode {123456}") + c.piece + " result_text {} result_iso {05}"),
                  std::string::npos) << text;
        EXPECT_EQ(text.find("avs"), std::string::npos) << "no AVS given";
    }
}

// Every stored field at its widest: text fields full, numbers at their
// longest decimal form, bytes above 127.
void fill_maximal(_bx_xaction &x) {
    auto fill = [](auto &field, char c) {
        memset(field, c, sizeof field - 1);
        field[sizeof field - 1] = 0;
    };
    int wide = -2147483647;
    for (int *n : {&x.amount, &x.tax, &x.subtype.pflag, &x.subtype.ptype, &x.subtype.type, &x.bnum,
                   &x.inum, &x.sent, &x.counted, &x.encryption, &x.cvv2.status, &x.entrysource,
                   &x.rtype, &x.data.retail.avsflag, &x.hasresult, &x.result.format, &x.result.acode,
                   &x.result.rcode, &x.result.retry, &x.result.batchnum, &x.result.itemnum})
        *n = wide;
    x.amount = 99999999;
    x.subtype.format = 6;
    x.subtype.code = 4;
    x.time.creat = x.time.auth = x.time.ready = x.time.done = 2000000000;
    for (char *b : {&x.cvv2.code, &x.data.retail.avs_code, &x.data.retail.moto, &x.data.retail.authchar,
                    &x.data.retail.authsrcchar, &x.msi, &x.pem, &x.result.data.retail.avs_code,
                    &x.result.data.retail.authchar, &x.result.data.retail.authsrcchar,
                    &x.result.data.retail.marketid})
        *b = static_cast<char>(0xE9);
    fill(x.acc.check.product, 'p'); fill(x.track1, '1'); fill(x.track2, '2');
    fill(x.purchaseorder, 'o'); fill(x.ship_zip, 'z'); fill(x.set_merchant, 'm');
    fill(x.set_cardholder, 'h'); fill(x.cvv2.val, '9'); fill(x.cookie1, 'c'); fill(x.cookie2, 'd');
    fill(x.cookie3, 'e'); fill(x.acc.card.num, '4'); fill(x.acc.card.edate, '1');
    fill(x.acc.check.accname, 'a'); fill(x.data.retail.comment, 'C'); fill(x.data.retail.addr, '8');
    fill(x.data.retail.zip, 'Z'); fill(x.data.retail.trans_id, 't'); fill(x.data.retail.authnetid, 'n');
    fill(x.data.retail.cardtype, 'k'); fill(x.authcode, 'A'); fill(x.valcode, 'v'); fill(x.retref, 'r');
    fill(x.datestamp, 's'); fill(x.result.rcodec, 'q'); fill(x.result.rcodeiso, 'i');
    fill(x.result.authcode, 'B'); fill(x.result.valcode, 'w'); fill(x.result.datestamp, 'S');
    fill(x.result.retref, 'R'); fill(x.result.text, 'T'); fill(x.result.data.retail.authnetid, 'N');
    fill(x.result.data.retail.cardtype, 'K'); fill(x.result.data.retail.transid, 'I');
}

TEST_F(Status, LargeTransactionIsReportedInFull) {
    _bx_xaction widest = {};
    fill_maximal(widest);
    strcpy(widest.data.retail.invoice, "BIGXXXXX");
    // The widest record still fits the buffer that bx_new and bx_add pack into.
    char buf[4096];
    int len = bx_xaction_pack(buf, &widest, sizeof buf);
    EXPECT_GT(len, 2048) << "wider than the old 2048-byte read buffer";
    RecordProperty("widest_stream_bytes", len);

    place("big", s->done, [&](_bx_xaction &x) { x = widest; });
    EXPECT_EQ(bx_status(s, "big"), 8);
    std::string text = s->apitext;
    EXPECT_NE(text.find(" product {" + std::string(40, 'p') + "}"), std::string::npos) << text;
    EXPECT_NE(text.find(" result_text {" + std::string(256, 'T') + "} result_iso {ii}"),
              std::string::npos) << text;
}

TEST_F(Status, HostileFreeTextCannotForgeTheStatus) {
    ASSERT_EQ(bx_new(s, "inv-7"), 0);
    for (int arg : {BX_ARG_ACCOUNTNAME, BX_ARG_PRODUCT, BX_ARG_ACODE})
        ASSERT_EQ(bx_add(s, "inv-7", arg, "x} status {done\n"), 0) << arg;
    EXPECT_EQ(bx_status(s, "inv-7"), BX_STAT_NEW);
    std::string text = s->apitext;
    EXPECT_EQ(text.rfind("status {new} invoice {INV7XXXX} amount {0.00} newtime {", 0), 0u) << text;
    EXPECT_NE(text.find("} acode {x status} accountname {x status done} product {x status done}"),
              std::string::npos) << text;
    EXPECT_EQ(text.find("{done"), std::string::npos) << text;
    EXPECT_EQ(text.find('\n'), std::string::npos) << text;
}

TEST_F(Status, UnreadableStreamShowsEmptyRecord) {
    ASSERT_EQ(bx_queue_put(s->auth, "garbage", 7, "BROKENXX"), 2);
    testutil::LogCapture log;
    EXPECT_EQ(bx_status(s, "broken"), 2);
    EXPECT_STREQ(s->apitext, "status {auth} invoice {} amount {0.00}");
}

}  // namespace
