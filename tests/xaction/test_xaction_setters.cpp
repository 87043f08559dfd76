// Field setters of the transaction record: acceptance rules, kinds,
// widths, track data and CVV2 words.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "xaction/bx_xaction.h"
#include "xaction/bx_xaction_ach.h"
#include "xaction/bx_xaction_check.h"
#include "xaction/bx_xaction_retail.h"

namespace {

enum { CARD = 1, CHECK = 2, ACH = 3 };

using Record = std::unique_ptr<_bx_xaction, void (*)(bx_xaction)>;

Record make(int kind) {
    static int (*const init[])(bx_xaction) = {nullptr, bx_xaction_retail_init, bx_xaction_check_init,
                                              bx_xaction_ach_init};
    Record r(bx_xaction_create(), bx_xaction_destroy);
    EXPECT_NE(r.get(), nullptr);
    if (kind != 0) {  // kind 0: a session with no record kind
        EXPECT_EQ(init[kind](r.get()), 1);
    }
    return r;
}

// A record with something in every field a setter may touch, so that a
// setter that wrongly writes shows up.
Record filled(int kind) {
    Record r = make(kind);
    auto sevens = [](auto &field) { memset(field, '7', sizeof field - 1); };
    sevens(r->acc.card.num), sevens(r->acc.card.edate), sevens(r->acc.check.troutnum);
    sevens(r->acc.check.bankaccnum), sevens(r->acc.check.checknum);
    sevens(r->acc.check.accname), sevens(r->acc.check.product);
    r->acc.check.acctype = 2;
    r->amount = 500;
    r->tax = 50;
    r->entrysource = 1;
    r->encryption = 1;
    r->cvv2.status = 2;
    qor_field_set(r->cvv2.val, "999");
    return r;
}

bool same_bytes(const _bx_xaction &a, const _bx_xaction &b) { return memcmp(&a, &b, sizeof a) == 0; }

using TextSetter = int (*)(bx_xaction, const char *);

struct TextField {
    const char *name;
    TextSetter set;
    unsigned kinds;  // bit k set: applies to dbtype k
    std::string (*get)(const _bx_xaction &);
};

constexpr unsigned ANY = 1u | (1u << CARD) | (1u << CHECK) | (1u << ACH);  // kind 0 too
constexpr unsigned only(int a, int b = 0) { return (1u << a) | (b ? 1u << b : 0u); }

#define TEXT(expr) [](const _bx_xaction &x) { return std::string(x.expr); }
#define NUM(expr) [](const _bx_xaction &x) { return std::to_string(x.expr); }

const TextField kFields[] = {
    {"cardnum", bx_xaction_setcardnum, only(CARD), TEXT(acc.card.num)},
    {"edate", bx_xaction_setedate, only(CARD), TEXT(acc.card.edate)},
    {"troutnum", bx_xaction_settroutnum, only(CHECK, ACH), TEXT(acc.check.troutnum)},
    {"bankaccnum", bx_xaction_setbankaccnum, only(CHECK, ACH), TEXT(acc.check.bankaccnum)},
    {"checknum", bx_xaction_setchecknum, only(CHECK), TEXT(acc.check.checknum)},
    {"accname", bx_xaction_setaccname, only(CARD, ACH), TEXT(acc.check.accname)},
    {"product", bx_xaction_setproduct, ANY, TEXT(acc.check.product)},
    {"track1", bx_xaction_settrack1, ANY, TEXT(track1)},
    {"track2", bx_xaction_settrack2, ANY, TEXT(track2)},
    {"entrysource", bx_xaction_setentrysource, ANY, NUM(entrysource)},
    {"encryption", bx_xaction_setencryption, ANY, NUM(encryption)},
    {"setmerchant", bx_xaction_setsetmerchant, ANY, TEXT(set_merchant)},
    {"setcardholder", bx_xaction_setsetcardholder, ANY, TEXT(set_cardholder)},
    {"purchaseorder", bx_xaction_setpurchaseorder, ANY, TEXT(purchaseorder)},
    {"shipzip", bx_xaction_setshipzip, ANY, TEXT(ship_zip)},
    {"cvv2", bx_xaction_setcvv2, ANY, TEXT(cvv2.val)},
    {"addr", bx_xaction_retail_setaddr, ANY, TEXT(data.retail.addr)},
    {"zip", bx_xaction_retail_setzip, ANY, TEXT(data.retail.zip)},
    {"comment", bx_xaction_retail_setcomment, ANY, TEXT(data.retail.comment)},
    {"invoice", bx_xaction_retail_setinvoice, ANY, TEXT(data.retail.invoice)},
    {"acode", bx_xaction_retail_setacode, ANY, TEXT(authcode)},
    {"licensenum", bx_xaction_check_setlicensenum, ANY, TEXT(data.check.licensenum)},
    {"licensestate", bx_xaction_check_setlicensestate, ANY, TEXT(data.check.licensestate)},
};

const TextField &field(const std::string &name) {
    for (const auto &f : kFields)
        if (name == f.name) return f;
    ADD_FAILURE() << "no field " << name;
    return kFields[0];
}

TEST(Setters, KindThatDoesNotApplyLeavesRecordUntouched) {
    for (const auto &f : kFields) {
        for (int kind : {0, int(CARD), int(CHECK), int(ACH)}) {
            if (f.kinds & (1u << kind)) continue;
            Record r = filled(kind);
            _bx_xaction before;
            memcpy(&before, r.get(), sizeof before);
            for (const char *text : {"4111 1111", "yes", "", static_cast<const char *>(nullptr)}) {
                EXPECT_EQ(f.set(r.get(), text), 1) << f.name << " on kind " << kind;
                EXPECT_TRUE(same_bytes(*r, before)) << f.name << " on kind " << kind;
            }
        }
    }
    for (int kind : {0, int(CARD), int(CHECK)}) {
        Record r = filled(kind);
        _bx_xaction before;
        memcpy(&before, r.get(), sizeof before);
        EXPECT_EQ(bx_xaction_setacctype(r.get(), 1), 1);
        EXPECT_TRUE(same_bytes(*r, before)) << "acctype on kind " << kind;
    }
}

TEST(Setters, NullRecordOrTextIsRefused) {
    for (const auto &f : kFields) {
        EXPECT_EQ(f.set(nullptr, "1234"), 0) << f.name;
        for (int kind : {CARD, CHECK, ACH}) {
            if (!(f.kinds & (1u << kind))) continue;
            Record r = filled(kind);
            _bx_xaction before;
            memcpy(&before, r.get(), sizeof before);
            EXPECT_EQ(f.set(r.get(), nullptr), 0) << f.name;
            EXPECT_TRUE(same_bytes(*r, before)) << f.name;
        }
    }
    EXPECT_EQ(bx_xaction_setamount(nullptr, 100), 0);
    EXPECT_EQ(bx_xaction_settax(nullptr, 100), 0);
    EXPECT_EQ(bx_xaction_setacctype(nullptr, 1), 0);
    EXPECT_EQ(bx_xaction_retail_settype(nullptr, 1), 0);
    EXPECT_EQ(bx_xaction_setprotocol(nullptr, 1, 1), 0);
}

struct Case {
    const char *field;
    int kind;
    const char *in;
    int ret;
    const char *stored;  // field afterwards (refusals: the filled value)
};

TEST(Setters, AcceptanceRules) {
    const Case cases[] = {
        {"cardnum", CARD, "4111-1111 1111 1111", 1, "4111111111111111"},
        {"cardnum", CARD, "card", 1, ""},
        {"cardnum", CARD, "4111 1111 1111 1111 222", 1, "4111111111111111222"},
        {"cardnum", CARD, "12345678901234567890123", 1, "1234567890123456789"},
        {"edate", CARD, "12/05", 1, "1205"},
        {"edate", CARD, "1205", 1, "1205"},
        {"edate", CARD, "1/05", 0, "7777"},
        {"edate", CARD, "12/2005", 0, "7777"},
        {"edate", CARD, "", 0, "7777"},
        {"troutnum", CHECK, "0210-0002-1x", 1, "021000021"},
        {"troutnum", ACH, "0210000219999", 1, "021000021"},
        {"bankaccnum", CHECK, "12 34 56", 1, "123456"},
        {"bankaccnum", ACH, "1234567890123456789012", 1, "123456789012345678"},
        {"checknum", CHECK, "#1001", 1, "1001"},
        {"checknum", CHECK, "123456789012", 1, "1234567890"},
        {"accname", CARD, "John Doe, Jr.", 1, "John Doe, Jr."},
        {"accname", ACH, "abcdefghijklmnopqrstuvwxyz", 1, "abcdefghijklmnopqrstuv"},
        {"product", CHECK, "Widget {large} #3", 1, "Widget large #3"},
        {"entrysource", CARD, "customer", 1, "2"},
        {"entrysource", CARD, "MERCHANT", 1, "1"},
        {"entrysource", CARD, "Customer", 1, "2"},
        {"entrysource", CARD, "clerk", 0, "1"},
        {"entrysource", CARD, "", 0, "1"},
        {"entrysource", CARD, "customers", 0, "1"},
        {"encryption", CHECK, "YES", 1, "1"},
        {"encryption", CHECK, "no", 1, "0"},
        {"encryption", CHECK, "maybe", 0, "1"},
        {"setmerchant", ACH, "cert-123", 1, "cert-123"},
        {"setcardholder", ACH, "holder cert", 1, "holder cert"},
        {"purchaseorder", CARD, "PO 77/b", 1, "PO 77/b"},
        {"shipzip", CARD, "90210-1234", 1, "902101234"},
        {"shipzip", CARD, "K1A 0B1", 1, "K1A0B1"},
        {"shipzip", CARD, "9\xe9" "0210", 1, "90210"},
        {"shipzip", CARD, "1234567890AB", 1, "123456789"},
        {"shipzip", CARD, "-----------------------12345", 1, "1"},
        {"addr", CHECK, "123 Main St, Apt 4", 1, "1234"},
        {"addr", CARD, "the house behind the church, no. 7", 1, "7"},
        {"addr", CARD, "1234567890123456789012345", 1, "12345678901234567890"},
        {"zip", ACH, "SW1A 1AA", 1, "SW1A1AA"},
        {"zip", CARD, "ABCDEFGHIJKL", 1, "ABCDEFGHI"},
        {"zip", CARD, "                       9Z", 1, "9"},
        {"comment", CARD, "thanks, call 555-1212 re: box!", 1, "THANKS, CALL 555-1212 RE "},
        {"comment", CARD, "\xe9t\xe9", 1, "T"},
        {"invoice", CARD, "inv-42", 1, "INV42XXX"},
        {"invoice", CHECK, "12345678901", 1, "12345678"},
        {"invoice", ACH, "!!!", 1, "XXXXXXXX"},
        {"invoice", CARD, "ab-c/d 12x", 1, "ABCD12XX"},
        {"invoice", CARD, "", 1, "XXXXXXXX"},
        {"acode", CARD, "ab12", 1, "ab12"},
        {"acode", CARD, "123456789", 1, "12345678"},
        {"acode", CARD, "", 1, ""},
        {"licensenum", CHECK, "d123-456*78 x", 1, "d123456*78x"},
        {"licensenum", CHECK, "abcdefghijklmnopqrstuvwxyz", 1, "abcdefghijklmnopqrstuvwx"},
        {"licensenum", CHECK, "------------------------AB", 1, ""},
        {"licensestate", CHECK, "69", 1, "69"},
        {"licensestate", CHECK, "6-9", 1, "6"},
        {"licensestate", CHECK, "123", 1, "12"},
        // Free text printed in answers and receipts never keeps a brace or
        // a control character.
        {"accname", CARD, "x} status {done\n\x01", 1, "x status done"},
        {"accname", ACH, "a\r\nb\x7f\tc\x1b", 1, "abc"},
        {"product", CHECK, "{{}}widget\n", 1, "widget"},
        {"setmerchant", CARD, "cert}\x02", 1, "cert"},
        {"setcardholder", CARD, "{holder}", 1, "holder"},
        {"purchaseorder", CARD, "PO\n77 {x}", 1, "PO77 x"},
        {"acode", CARD, "12}{34\n", 1, "1234"},
        {"acode", CARD, "}{\n", 1, ""},
    };
    for (const auto &c : cases) {
        const TextField &f = field(c.field);
        Record r = filled(c.kind);
        _bx_xaction before;
        memcpy(&before, r.get(), sizeof before);
        EXPECT_EQ(f.set(r.get(), c.in), c.ret) << c.field << "('" << c.in << "')";
        EXPECT_EQ(f.get(*r), c.stored) << c.field << "('" << c.in << "')";
        if (c.ret == 0) {
            EXPECT_TRUE(same_bytes(*r, before)) << c.field << "('" << c.in << "')";
        }
    }
}

// The width of free text cuts what its filter leaves, not the text given.
TEST(Setters, FreeTextCutAfterFiltering) {
    const std::string padded = std::string(100, '{') + "ab" + std::string(100, '\n');
    for (const char *name : {"accname", "product", "setmerchant", "setcardholder", "purchaseorder", "acode"}) {
        const TextField &f = field(name);
        Record r = make(CARD);
        EXPECT_EQ(f.set(r.get(), padded.c_str()), 1) << name;
        EXPECT_EQ(f.get(*r), "ab") << name;
    }
}

TEST(Setters, WidthsCutExactly) {
    const struct {
        const char *field;
        int kind;
        char fill;  // a character the field's filter keeps as it is
        size_t width;
    } cases[] = {
        {"cardnum", CARD, '4', 19},       {"troutnum", CHECK, '1', 9},
        {"bankaccnum", ACH, '2', 18},     {"checknum", CHECK, '3', 10},
        {"accname", CARD, 'n', 22},       {"product", ACH, 'p', 40},
        {"track1", CHECK, 't', 80},       {"track2", CARD, 't', 80},
        {"setmerchant", CARD, 'm', 25},   {"setcardholder", CARD, 'h', 25},
        {"purchaseorder", CARD, 'o', 25}, {"shipzip", CARD, 'Z', 9},
        {"addr", CARD, '5', 20},          {"zip", CARD, 'Z', 9},
        {"comment", CARD, 'C', 25},       {"acode", CARD, 'A', 8},
        {"licensenum", CHECK, 'L', 24},   {"licensestate", CHECK, 'S', 2},
    };
    for (const auto &c : cases) {
        const TextField &f = field(c.field);
        for (size_t len : {c.width - 1, c.width, c.width + 1, c.width + 50}) {
            std::string in(len, c.fill);
            Record r = make(c.kind);
            EXPECT_EQ(f.set(r.get(), in.c_str()), 1) << c.field;
            EXPECT_EQ(f.get(*r), in.substr(0, c.width)) << c.field << " given " << len;
        }
    }
}

TEST(Setters, AvsAndLicenceFlags) {
    Record r = make(CARD);
    EXPECT_EQ(bx_xaction_retail_setaddr(r.get(), "no digits"), 1);
    EXPECT_EQ(r->data.retail.avsflag, 1);
    r = make(CARD);
    EXPECT_EQ(bx_xaction_retail_setzip(r.get(), ""), 1);
    EXPECT_EQ(r->data.retail.avsflag, 1);
    r = make(CHECK);
    EXPECT_EQ(bx_xaction_check_setlicensenum(r.get(), "X1"), 1);
    EXPECT_EQ(r->data.check.dvsflag, 1);
    r = make(CHECK);
    EXPECT_EQ(bx_xaction_check_setlicensestate(r.get(), "32"), 1);
    EXPECT_EQ(r->data.check.dvsflag, 1);
}

TEST(Setters, AmountAndTax) {
    const struct {
        int cents;
        int ret;
    } cases[] = {{1, 1}, {1234, 1}, {99999999, 1}, {100000000, 0}, {0, 0}, {-1, 0}, {2147483647, 0}};
    for (const auto &c : cases) {
        Record r = filled(CARD);
        EXPECT_EQ(bx_xaction_setamount(r.get(), c.cents), c.ret) << c.cents;
        EXPECT_EQ(r->amount, c.ret ? c.cents : 500) << c.cents;
        EXPECT_EQ(bx_xaction_settax(r.get(), c.cents), c.ret) << c.cents;
        EXPECT_EQ(r->tax, c.ret ? c.cents : 50) << c.cents;
    }
}

TEST(Setters, AccountTypeOnAchOnlyAndUnchecked) {
    for (int type : {0, 1, 2, 77, -3}) {
        Record r = make(ACH);
        EXPECT_EQ(bx_xaction_setacctype(r.get(), type), 1);
        EXPECT_EQ(r->acc.check.acctype, type);
    }
}

TEST(Setters, OrderTypeDerivesMoto) {
    const struct {
        int rtype;
        char moto;
    } cases[] = {{1, '1'}, {2, '1'}, {3, '2'}, {4, '3'}, {5, '4'},
                 {6, 0},   {7, 0},   {8, 0},   {0, 0},   {9, 0}, {-1, 0}};
    for (int kind : {CARD, CHECK}) {
        for (const auto &c : cases) {
            Record r = make(kind);
            r->data.retail.moto = 'z';
            EXPECT_EQ(bx_xaction_retail_settype(r.get(), c.rtype), 1);
            EXPECT_EQ(r->rtype, c.rtype);
            EXPECT_EQ(r->data.retail.moto, c.moto) << c.rtype;
        }
    }
}

TEST(Setters, Cvv2Words) {
    const struct {
        const char *in;
        int ret;
        int status;
        const char *val;
    } cases[] = {
        {"", 1, 0, ""},
        {"none", 1, 1, ""},
        {"NONE", 1, 1, ""},
        {"illegible", 1, 3, ""},
        {"Illegible", 1, 3, ""},
        {"NotPrinted", 1, 4, ""},
        {"notprinted", 1, 4, ""},
        {"not printed", 0, 2, "999"},
        {"12a3", 1, 2, "123"},
        {"123", 1, 2, "123"},
        {"0007", 1, 2, "0007"},
        {"123456", 1, 2, "1234"},
        {"none1", 1, 2, "1"},
        {"abc", 0, 2, "999"},
        {"  ", 0, 2, "999"},
        {"\xb9\xb2", 0, 2, "999"},
    };
    for (const auto &c : cases) {
        Record r = filled(CARD);
        EXPECT_EQ(bx_xaction_setcvv2(r.get(), c.in), c.ret) << c.in;
        EXPECT_EQ(r->cvv2.status, c.status) << c.in;
        EXPECT_STREQ(r->cvv2.val, c.val) << c.in;
    }
}

struct TrackCase {
    TextSetter set;
    std::string in;
    const char *num;
    const char *edate;
};

TEST(Setters, TrackData) {
    const std::string name70(70, 'N');
    const TrackCase cases[] = {
        {bx_xaction_settrack2, "4111111111111111=0512101123", "4111111111111111", "1205"},
        {bx_xaction_settrack2, "4111111111111111=0512", "4111111111111111", "1205"},
        {bx_xaction_settrack2, "4111111111111111D0512", "4111111111111111", "1205"},
        {bx_xaction_settrack2, "4111111111111111=051", "4111111111111111", ""},
        {bx_xaction_settrack2, "4111111111111111=", "4111111111111111", ""},
        {bx_xaction_settrack2, "4111111111111111", "4111111111111111", ""},
        {bx_xaction_settrack2, "", "", ""},
        {bx_xaction_settrack2, "=0512", "", "1205"},
        {bx_xaction_settrack2, "12345678901234567890=0512", "1234567890123456789", "51=0"},
        {bx_xaction_settrack1, "B4111111111111111^DOE/JOHN^0512101", "4111111111111111", "1205"},
        {bx_xaction_settrack1, "B4111111111111111^DOE/JOHN^0512", "4111111111111111", "1205"},
        {bx_xaction_settrack1, "B4111111111111111^DOE/JOHN^051", "4111111111111111", ""},
        {bx_xaction_settrack1, "B4111111111111111^DOE/JOHN", "4111111111111111", ""},
        {bx_xaction_settrack1, "B4111111111111111^DOE/JOHN0512", "4111111111111111", ""},
        {bx_xaction_settrack1, "B4111111111111111", "4111111111111111", ""},
        {bx_xaction_settrack1, "B", "", ""},
        {bx_xaction_settrack1, "", "", ""},
        {bx_xaction_settrack1, "4111^X^0512", "111", "1205"},  // the first character is the format code
        {bx_xaction_settrack1, "B^^0512", "", "1205"},           // the separator is skipped unconditionally
        {bx_xaction_settrack1, "B4111111111111111^" + name70 + "^0512", "4111111111111111", "1205"},
        {bx_xaction_settrack2, "garbage", "", "baar"},
    };
    for (int kind : {CARD, CHECK}) {
        for (const auto &c : cases) {
            Record r = filled(kind);
            auto buf = std::make_unique<char[]>(c.in.size() + 1);  // no slack after the text
            memcpy(buf.get(), c.in.c_str(), c.in.size() + 1);
            EXPECT_EQ(c.set(r.get(), buf.get()), 1) << c.in;
            EXPECT_STREQ(r->acc.card.num, c.num) << c.in;
            EXPECT_STREQ(r->acc.card.edate, c.edate) << c.in;
            const char *stored = c.set == bx_xaction_settrack1 ? r->track1 : r->track2;
            EXPECT_EQ(std::string(stored), c.in.substr(0, 80)) << c.in;
        }
    }
}

}  // namespace
