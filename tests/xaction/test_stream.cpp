// Transaction stream form: the exact bytes of a stored transaction, the
// key conditions of each kind, round trips and damaged streams.
//
// Records are filled field by field here (zero-filled, then assigned), as
// the daemon's copy of a record would be, without the setters.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "tests/testutil.h"
#include "xaction/bx_xaction_keydb.h"

using testutil::LogCapture;
using namespace std::string_literals;

namespace {

// A zero-filled record of one kind, as the kind initialisers leave it.
// Records are compared byte for byte, so they are built in place and
// copied with memcpy only (padding stays zero).
void make(_bx_xaction &x, int dbtype) {
    memset(&x, 0, sizeof x);
    x.dbtype = dbtype;
    struct { int dbtype, pflag, ptype, type, code, format; } kinds[] = {
        {1, 42, 1, 0, 4, 6}, {2, 1, 1, 0, 4, 98}, {3, 1, 1, 0, 3, 95},
    };
    for (const auto &k : kinds) {
        if (k.dbtype == dbtype) x.subtype = {k.pflag, k.ptype, k.type, k.code, k.format, 0};
    }
    strcpy(x.data.retail.invoice, "INV42XXX");
}

std::string pack(_bx_xaction &x, int size = 10240) {
    std::vector<char> buf(size);
    int n = bx_xaction_pack(buf.data(), &x, size);
    return std::string(buf.data(), n > 0 ? n : 0);
}

// Unpacks from a heap block of exactly the stream's size.
int unpack(const std::string &s, _bx_xaction &x) {
    auto block = std::make_unique<char[]>(s.size());
    memcpy(block.get(), s.data(), s.size());
    return bx_xaction_unpack(block.get(), &x, static_cast<int>(s.size()));
}

// The key of every pair string in a stream (test-side reading).
std::set<std::string> keys(const std::string &s) {
    std::set<std::string> out;
    for (size_t pos = 0, n = 0; pos < s.size(); pos += n + 1, n = 0) {
        n = strlen(s.c_str() + pos);
        std::string str = s.substr(pos, n);
        size_t q = str.find('?');
        if (q != std::string::npos && q > 0) out.insert(str.substr(0, q));
    }
    return out;
}

bool same(const _bx_xaction &a, const _bx_xaction &b) { return memcmp(&a, &b, sizeof a) == 0; }

// Distinct values in every stored field that applies to the kind,
// including byte fields above 127.
void filled(_bx_xaction &x, int dbtype, bool result) {
    make(x, dbtype);
    x.amount = 12345;
    x.tax = 99999999;
    x.bnum = 7;
    x.inum = -3;
    x.sent = 1;
    x.counted = 2;
    strcpy(x.acc.check.product, "Widget, large?");
    strcpy(x.track1, "B4111111111111111^DOE/JOHN^0512");
    strcpy(x.track2, "4111111111111111=0512");
    strcpy(x.purchaseorder, "PO-1");
    strcpy(x.ship_zip, "K1A0B1");
    x.encryption = 1;
    strcpy(x.set_merchant, std::string(25, 'm').c_str());
    strcpy(x.set_cardholder, "holder");
    x.cvv2.status = 2;
    strcpy(x.cvv2.val, "123");
    x.cvv2.code = static_cast<char>(0xE9);
    strcpy(x.cookie1, "c1");
    strcpy(x.cookie3, std::string(100, 'z').c_str());
    x.time = {1000000000, 1000000100, 1000000200, 2147483647};
    x.entrysource = 2;
    x.rtype = 8;
    strcpy(x.authcode, "AUTH1234");
    strcpy(x.valcode, "V1");
    x.msi = 'M';
    strcpy(x.retref, "123456789012");
    strcpy(x.datestamp, "0611");
    x.pem = static_cast<char>(0x80);
    if (dbtype == 1) {
        strcpy(x.acc.card.num, "4111111111111111");
        strcpy(x.acc.card.edate, "1205");
        strcpy(x.acc.check.accname, "J DOE");
        auto &r = x.data.retail;
        r.avsflag = 1;
        strcpy(r.addr, "1234");
        strcpy(r.zip, "90210");
        strcpy(r.trans_id, "T123");
        r.avs_code = static_cast<char>(0xE9);
        strcpy(r.comment, "GIFT");
        r.authchar = 'A';
        r.authsrcchar = static_cast<char>(0xFF);
        strcpy(r.authnetid, "05");
        strcpy(r.cardtype, "VI");
        r.moto = '1';
    } else {
        strcpy(x.acc.check.troutnum, "011000015");
        strcpy(x.acc.check.bankaccnum, "123456789012345678");
    }
    if (dbtype == 2) {
        strcpy(x.acc.check.checknum, "1001");
        x.data.check.dvsflag = 1;
        strcpy(x.data.check.licensenum, "D1234*5");
        strcpy(x.data.check.licensestate, "71");
    }
    if (dbtype == 3) {
        strcpy(x.acc.check.accname, "ACME LTD");
        x.acc.check.acctype = 2;
    }
    if (result) {
        x.hasresult = 1;
        auto &r = x.result;
        r.format = 6;
        r.acode = 1;
        r.rcode = 0;
        r.retry = 2;
        strcpy(r.rcodec, "000");
        strcpy(r.rcodeiso, "00");
        r.batchnum = 12;
        r.itemnum = 34;
        strcpy(r.authcode, "OK1234");
        strcpy(r.valcode, "VV");
        strcpy(r.datestamp, "061124");
        strcpy(r.retref, "RR");
        strcpy(r.text, std::string(256, 't').c_str());
        r.data.retail.avs_code = 'Y';
        r.data.retail.authchar = static_cast<char>(0xC1);
        r.data.retail.authsrcchar = '5';
        strcpy(r.data.retail.authnetid, "02");
        strcpy(r.data.retail.cardtype, "MC");
        strcpy(r.data.retail.transid, "012345678901234");
        r.data.retail.marketid = static_cast<char>(0xFE);
    }
}

}  // namespace

TEST(Stream, NewCardTransactionExactBytes) {
    _bx_xaction x;
    make(x, 1);
    x.time.creat = 1000000000;
    // Buckets of the 50 keys written (newest first within a bucket):
    // 0 RType DBType; 3 Amount; 7 MAPPMSI CCExpDate; 10 RetailCardType
    // BatchNumber; 13 RetailMoTo ItemCType ItemNumber; 14 HasResult ...
    // TaxAmount; 15 MAPPDateStamp ... SubtypePFlag; 22 MAPPPEM;
    // 30 MAPPRetRef CCTrack2 CCTrack1.
    const std::string want =
        "BRIXDB\0" "1\0" "INV42XXX\0"
        "RType?0\0" "DBType?1\0"
        "Amount?0\0"
        "MAPPMSI?0\0" "CCExpDate?\0"
        "RetailCardType?\0" "BatchNumber?0\0"
        "RetailMoTo?0\0" "ItemCType?0\0" "ItemNumber?0\0"
        "HasResult?0\0" "RetailAuthNetID?\0" "RetailAuthChar?0\0" "RetailZipCode?\0"
        "RetailAddress?\0" "TimeDone?0\0" "TimeAuth?0\0" "TimeCreated?1000000000\0"
        "TaxAmount?0\0"
        "MAPPDateStamp?\0" "MAPPValCode?\0" "MAPPAuthCode?\0" "RetailAuthSourceChar?0\0"
        "RetailTransID?\0" "RetailAVSCode?0\0" "RetailAVSFlag?0\0" "RetailComment?\0"
        "EntrySource?0\0" "TimeReady?0\0" "ACHAccountName?\0" "CCNumber?\0"
        "CVV2ResultCode?0\0" "CVV2Value?\0" "CVV2Status?0\0" "MCSETCardholder?\0"
        "MCSETMerchant?\0" "MCEncryption?0\0" "ShippingZipCode?\0" "PurchaseOrderNum?\0"
        "ProductName?\0" "ItemBeenSent?0\0" "SubtypeFormat?6\0" "SubtypeCode?4\0"
        "SubtypeType?0\0" "SubtypePType?1\0" "SubtypePFlag?42\0"
        "MAPPPEM?0\0"
        "MAPPRetRef?\0" "CCTrack2?\0" "CCTrack1?\0"
        "?.\0"s;
    ASSERT_EQ(want.size(), 716u);
    EXPECT_EQ(pack(x), want);

    _bx_xaction back;
    ASSERT_EQ(unpack(want, back), 1);
    EXPECT_TRUE(same(back, x));
}

TEST(Stream, RoundTripsEveryKind) {
    for (int dbtype : {1, 2, 3}) {
        for (bool result : {false, true}) {
            SCOPED_TRACE(testing::Message() << "dbtype " << dbtype << " result " << result);
            _bx_xaction x;
            filled(x, dbtype, result);
            std::string s = pack(x);
            ASSERT_GT(s.size(), 0u);
            EXPECT_LT(s.size(), 4096u);  // fits the buffer of bx_add
            EXPECT_EQ(keys(s).count("ResultText"), result ? 1u : 0u);
            EXPECT_EQ(keys(s).count("Cookie2"), 0u);  // empty cookie: no key
            _bx_xaction back;
            memset(&back, 0x5A, sizeof back);
            ASSERT_EQ(unpack(s, back), 1);
            EXPECT_TRUE(same(back, x));
            EXPECT_EQ(back.data.retail.avs_code, x.data.retail.avs_code);
            EXPECT_EQ(pack(back), s);  // the same values give the same bytes
        }
    }
}

TEST(Stream, KindConditions) {
    struct {
        int dbtype;
        std::vector<const char *> present, absent;
    } cases[] = {
        {1, {"CCNumber", "CCExpDate", "ACHAccountName", "RetailComment", "RetailMoTo"},
         {"ChkSequenceNumber", "ACHAccountType", "CheckDVSFlag", "DriversLicenseNumber"}},
        {2, {"ChkTransRoutingNumber", "ChkBankAccountNumber", "ChkSequenceNumber", "CheckDVSFlag",
             "DriversLicenseNumber", "DriversLicenseState"},
         {"CCNumber", "RetailComment", "ACHAccountName", "ACHAccountType"}},
        {3, {"ACHTransRoutingNumber", "ACHBankAccountNumber", "ACHAccountName", "ACHAccountType"},
         {"CCNumber", "ChkSequenceNumber", "RetailComment", "RetailAVSCode", "CheckDVSFlag",
          "DriversLicenseNumber"}},
        {9, {"Amount", "HasResult", "MAPPPEM"}, {"CCNumber", "ChkSequenceNumber", "ACHAccountType"}},
    };
    for (const auto &c : cases) {
        _bx_xaction x;
        filled(x, c.dbtype, false);
        auto k = keys(pack(x));
        for (const char *key : c.present) EXPECT_EQ(k.count(key), 1u) << c.dbtype << " " << key;
        for (const char *key : c.absent) EXPECT_EQ(k.count(key), 0u) << c.dbtype << " " << key;
    }
}

TEST(Stream, FieldsNotStoredReadBackZero) {
    _bx_xaction x, want;
    filled(x, 1, true);
    memcpy(&want, &x, sizeof x);
    x.multi = 5;
    x.subtype.oldformat = 6;
    x.data.close.bnum = 9;
    x.data.ach.dummy = 1;
    strcpy(x.result.buf, "raw");
    x.result.pem = 'P';
    strcpy(x.result.cookie2, "rc2");
    x.result.icookie1 = 77;
    x.result.cvv2.code = 'M';
    strcpy(x.result.data.close.batchidnum, "B1");
    _bx_xaction back;
    ASSERT_EQ(unpack(pack(x), back), 1);
    EXPECT_TRUE(same(back, want));
}

TEST(Stream, ForeignAndOldStreams) {
    const std::string head = "BRIXDB\0" "1\0"s;
    _bx_xaction x;

    // An old writer's card stream without the retail keys, and keys that
    // do not apply to the kind or are unknown, unpack with defaults.
    ASSERT_EQ(unpack(head + "INV42XXX\0" "DBType?2\0" "SubtypeFormat?6\0" "CCNumber?4111\0"
                            "Frobnicate?1\0" "ChkSequenceNumber?77\0" "?.\0"s, x), 1);
    _bx_xaction want;
    make(want, 2);
    want.subtype = {0, 0, 0, 0, 6, 0};
    strcpy(want.acc.check.checknum, "77");
    EXPECT_TRUE(same(x, want));

    // Values longer than their fields are cut to the field's width.
    const std::string digits(30, '4'), text(400, 't');
    ASSERT_EQ(unpack(head + "INV42XXXLONGER\0" "DBType?1\0" "CCNumber?"s + digits + "\0"s +
                         "MCSETMerchant?" + text + "\0HasResult?1\0ResultText?"s + text + "\0?.\0"s, x), 1);
    EXPECT_STREQ(x.data.retail.invoice, "INV42XXX");
    EXPECT_EQ(std::string(x.acc.card.num), digits.substr(0, 19));
    EXPECT_EQ(std::string(x.set_merchant), text.substr(0, 25));
    EXPECT_EQ(std::string(x.result.text), text.substr(0, 256));
}

TEST(Stream, RefusedStreamsLeaveZeroRecord) {
    _bx_xaction ok;
    make(ok, 1);
    const std::string full = pack(ok);
    _bx_xaction zero;
    memset(&zero, 0, sizeof zero);
    LogCapture log;
    for (size_t n = 0; n < full.size(); n++) {
        _bx_xaction x;
        memset(&x, 0x5A, sizeof x);
        EXPECT_EQ(unpack(full.substr(0, n), x), -1) << n;
        EXPECT_TRUE(same(x, zero)) << n;
    }
    log.clear();
    _bx_xaction x;
    EXPECT_EQ(unpack("BRIXDB\0" "2\0" "INV42XXX\0" "?.\0"s, x), -1);
    EXPECT_EQ(log.texts(), std::vector<std::string>{"NonFatal error: bx_keydb_unpack: unknown version (2)\n"});

    char invoice[9] = "";
    EXPECT_EQ(bx_xaction_unpack_invoice(full.data(), invoice, static_cast<int>(full.size())), 1);
    EXPECT_STREQ(invoice, "INV42XXX");
    EXPECT_EQ(bx_xaction_unpack_invoice(full.data(), invoice, 10), 0);
}

TEST(Stream, PackNeedsTheWholeStream) {
    _bx_xaction x;
    filled(x, 2, true);
    const std::string full = pack(x);
    LogCapture log;
    // Every buffer shorter than the stream is refused, and none is written
    // past its end (each is a heap block of exactly its size).
    for (size_t n = 0; n <= full.size(); n++) {
        auto buf = std::make_unique<char[]>(n);
        int got = bx_xaction_pack(buf.get(), &x, static_cast<int>(n));
        if (n < full.size()) {
            ASSERT_EQ(got, 0) << n;
        } else {
            ASSERT_EQ(got, static_cast<int>(n));
            EXPECT_EQ(std::string(buf.get(), n), full);
        }
    }
    EXPECT_EQ(log.texts(), std::vector<std::string>(full.size(), "NonFatal error: bx_keydb_pack: buffer has overflowed.\n"));
}

// Streams of other writers (the daemon, older versions, hand-made ones)
// may hold their pairs in any order, repeat a key (the last value counts),
// hold empty strings and unknown keys, and end on "?." with more after
// it; all of them read back exactly as the library's own form does.
TEST(Stream, AnyOrderOfPairsReadsTheSame) {
    for (int dbtype : {1, 2, 3}) {
        SCOPED_TRACE(testing::Message() << "dbtype " << dbtype);
        _bx_xaction x;
        filled(x, dbtype, true);
        const std::string s = pack(x);
        // Header (magic, version, invoice), the pair strings, terminator.
        std::vector<std::string> strings;
        for (size_t pos = 0; pos < s.size(); pos += strings.back().size() + 1)
            strings.push_back(std::string(s.c_str() + pos));
        const std::string head = strings[0] + '\0' + strings[1] + '\0' + strings[2] + '\0';
        std::vector<std::string> pairs(strings.begin() + 3, strings.end() - 1);
        auto stream = [&](const std::vector<std::string> &ps, const std::string &end = "?.") {
            std::string out = head;
            for (const auto &p : ps) out += p + '\0';
            return out + end + '\0';
        };
        ASSERT_EQ(stream(pairs), s);

        std::vector<std::string> reversed(pairs.rbegin(), pairs.rend());
        std::vector<std::string> blank = pairs, unknown = pairs, repeated = pairs;
        blank.insert(blank.begin() + 5, "");
        unknown.insert(unknown.begin() + 5, "Frobnicate?1");
        repeated.push_back("Amount?77");
        _bx_xaction want77;
        memcpy(&want77, &x, sizeof x);
        want77.amount = 77;
        const struct {
            const char *what;
            std::string stream;
            const _bx_xaction &want;
        } cases[] = {
            {"reversed", stream(reversed), x},
            {"blank string", stream(blank), x},
            {"unknown key", stream(unknown), x},
            {"key repeated", stream(repeated), want77},
            {"terminator with a tail", stream(pairs, "?.more"), x},
        };
        for (const auto &c : cases) {
            _bx_xaction back;
            memset(&back, 0x5A, sizeof back);
            ASSERT_EQ(unpack(c.stream, back), 1) << c.what;
            EXPECT_TRUE(same(back, c.want)) << c.what;
        }
    }
}
