// Keyed record: hashing, pairs, typed values, and the stream reader and
// writer, including damaged and hostile streams.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "tests/testutil.h"
#include "xaction/bx_keydb.h"

using testutil::LogCapture;
using namespace std::string_literals;

namespace {

struct Db {
    bx_keydbel p;
    explicit Db(const char *inv = "INV42XXX") : p(bx_keydb_create_empty(inv)) {}
    ~Db() { bx_keydb_destroy(p); }
    operator bx_keydbel() const { return p; }
};

std::string pack(bx_keydbel db, int size = 4096) {
    std::vector<char> buf(size);
    int n = bx_keydb_pack(db, buf.data(), size);
    return std::string(buf.data(), n);
}

// The stream copied into a heap block of exactly its size, so that the
// address sanitizer sees any read past the end.
bx_keydbel unpack_exact(const std::string &s) {
    auto block = std::make_unique<char[]>(s.size());
    memcpy(block.get(), s.data(), s.size());
    return bx_keydb_unpack(block.get(), static_cast<int>(s.size()));
}

const std::string kHead = "BRIXDB\0"s "1\0"s "INV42XXX\0"s;

}  // namespace

TEST(KeydbHash, Buckets) {
    struct { const char *key; int bucket; } cases[] = {
        {"a", 4}, {"ab", 12}, {"Amount", 3}, {"", 0}, {"A", 3}, {"b", 5},
        {"\xff\xff\xff\xff\xff\xff\xff\xff\xff", 32767 % 31},  // all 15 bits set
        {nullptr, 0},
    };
    for (const auto &c : cases) EXPECT_EQ(make_hashkey(c.key), c.bucket) << (c.key ? c.key : "null");
}

TEST(KeydbRecord, PutGetReplaceDelete) {
    Db db;
    ASSERT_NE(db.p, nullptr);
    EXPECT_EQ(bx_keydb_create_empty(nullptr), nullptr);
    EXPECT_EQ(bx_keydb_put(db, "A", "first"), 1);
    EXPECT_EQ(bx_keydb_put(db, "A", "second"), 1);
    EXPECT_STREQ(bx_keydb_get(db, "A"), "second");
    EXPECT_EQ(pack(db), kHead + "A?second\0?.\0"s);  // one pair, not two

    struct { const char *key; const char *val; int ok; } puts[] = {
        {"x?y", "v", 0}, {"", "v", 0}, {nullptr, "v", 0}, {"k", nullptr, 0},
        {"empty", "", 1}, {"q", "a?b?c", 1},
    };
    for (const auto &p : puts) EXPECT_EQ(bx_keydb_put(db, p.key, p.val), p.ok) << p.val;
    EXPECT_EQ(bx_keydb_get(db, ""), nullptr);
    EXPECT_EQ(bx_keydb_get(db, nullptr), nullptr);
    EXPECT_EQ(bx_keydb_get(db, "a"), nullptr);  // case matters

    bx_keydbel back = unpack_exact(pack(db));
    ASSERT_NE(back, nullptr);
    EXPECT_STREQ(bx_keydb_get(back, "empty"), "");
    EXPECT_STREQ(bx_keydb_get(back, "q"), "a?b?c");
    bx_keydb_destroy(back);

    bx_keydb_delete(db, "A");
    bx_keydb_delete(db, "missing");
    bx_keydb_delete(db, nullptr);
    EXPECT_EQ(bx_keydb_get(db, "A"), nullptr);
    EXPECT_STREQ(bx_keydb_get(db, "q"), "a?b?c");
}

TEST(KeydbRecord, TypedValues) {
    Db db;
    bx_keydb_putnum(db, "n", INT_MIN);
    bx_keydb_putlong(db, "l", 1000000000L);
    bx_keydb_putbyte(db, "A", 'A');
    bx_keydb_putbyte(db, "e", static_cast<char>(0xE9));
    EXPECT_STREQ(bx_keydb_get(db, "n"), "-2147483648");
    EXPECT_STREQ(bx_keydb_get(db, "A"), "65");
    EXPECT_STREQ(bx_keydb_get(db, "e"), "233");
    EXPECT_EQ(bx_keydb_getnum(db, "n"), INT_MIN);
    EXPECT_EQ(bx_keydb_getlong(db, "l"), 1000000000L);
    EXPECT_EQ(bx_keydb_getbyte(db, "e"), static_cast<signed char>(0xE9));
    EXPECT_EQ(bx_keydb_getbyte(db, "missing"), 0);
    EXPECT_EQ(bx_keydb_getnum(db, "missing"), 0);

    // Reading is atoi-like and saturates instead of overflowing.
    struct { const char *text; int num; long lng; int byte; } reads[] = {
        {"abc", 0, 0, 0},
        {"  12xyz", 12, 12, 12},
        {"-7", -7, -7, -7},
        {"+300", 300, 300, 44},
        {"99999999999", INT_MAX, 99999999999L, -1},
        {"-99999999999", INT_MIN, -99999999999L, 0},
        {"999999999999999999999999", INT_MAX, LONG_MAX, -1},
        {"-999999999999999999999999", INT_MIN, LONG_MIN, 0},
    };
    for (const auto &r : reads) {
        bx_keydb_put(db, "v", r.text);
        EXPECT_EQ(bx_keydb_getnum(db, "v"), r.num) << r.text;
        EXPECT_EQ(bx_keydb_getlong(db, "v"), r.lng) << r.text;
        EXPECT_EQ(bx_keydb_getbyte(db, "v"), r.byte) << r.text;
    }
}

TEST(KeydbStream, SmallestExample) {
    Db db;
    bx_keydb_put(db, "a", "1");
    std::string s = pack(db);
    EXPECT_EQ(s, "BRIXDB\0" "1\0" "INV42XXX\0" "a?1\0" "?.\0"s);
    EXPECT_EQ(s.size(), 25u);
}

TEST(KeydbStream, BucketOrderAndCollisionChain) {
    // Buckets: ab 12, b 5, a 4, Amount 3, A 3 (A was put last, so it
    // heads bucket 3's chain).
    Db db;
    const char *pairs[][2] = {{"ab", "x"}, {"b", ""}, {"Amount", "100"}, {"a", "1"}, {"A", "y?z"}};
    for (auto &kv : pairs) ASSERT_EQ(bx_keydb_put(db, kv[0], kv[1]), 1);
    bx_keydb_put(db, "Amount", "250");  // replaced in place: stays behind A
    std::string want = kHead + "A?y?z\0"s "Amount?250\0"s "a?1\0"s "b?\0"s "ab?x\0"s "?.\0"s;
    EXPECT_EQ(pack(db), want);

    // Reading inserts each pair at the head of its bucket again, so a
    // re-packed stream has every chain reversed; the pairs stay the same.
    bx_keydbel back = unpack_exact(want);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(pack(back), kHead + "Amount?250\0"s "A?y?z\0"s "a?1\0"s "b?\0"s "ab?x\0"s "?.\0"s);
    bx_keydb_destroy(back);

    // Iteration follows the stream order and hands out the record's key.
    std::string seen;
    auto collect = [](const char *k, const char *, void *rock) {
        *static_cast<std::string *>(rock) += std::string(k) + ",";
        return strcmp(k, "a") == 0 ? 1 : 0;
    };
    const char *hit = bx_keydb_iterate(db, collect, &seen);
    EXPECT_EQ(seen, "A,Amount,a,");
    ASSERT_NE(hit, nullptr);
    EXPECT_STREQ(hit, "a");
    EXPECT_EQ(hit, db.p->data[4]->key);
    EXPECT_EQ(bx_keydb_iterate(db, [](const char *, const char *, void *) { return 0; }, nullptr), nullptr);

    testing::internal::CaptureStdout();
    bx_keydb_print(db);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Keydb 'INV42XXX':\n  A: y?z\n  Amount: 250\n  a: 1\n  b: \n  ab: x\n");
}

TEST(KeydbStream, PackNeedsRoomForEveryByte) {
    Db db;
    bx_keydb_put(db, "a", "1");
    bx_keydb_put(db, "Amount", "100");
    const std::string full = pack(db);
    for (size_t size = 0; size < full.size(); size++) {
        LogCapture log;
        std::vector<char> buf(size + 1);
        EXPECT_EQ(bx_keydb_pack(db, buf.data(), static_cast<int>(size)), 0) << size;
        EXPECT_EQ(log.texts(), std::vector<std::string>{"NonFatal error: bx_keydb_pack: buffer has overflowed.\n"});
    }
    auto exact = std::make_unique<char[]>(full.size());
    EXPECT_EQ(bx_keydb_pack(db, exact.get(), static_cast<int>(full.size())), static_cast<int>(full.size()));
    EXPECT_EQ(std::string(exact.get(), full.size()), full);
}

TEST(KeydbStream, RefusedStreams) {
    const std::string key255(255, 'k'), key256(256, 'k');
    struct { std::string stream; const char *line; } cases[] = {
        {"BRIXDX\0" "1\0" "INV42XXX\0" "?.\0"s, "bx_keydb_unpack: not a BRIX DB stream."},
        {"BRIXDBX\0" "1\0" "INV42XXX\0" "?.\0"s, "bx_keydb_unpack: not a BRIX DB stream."},
        {"BRIXDB\0" "2\0" "INV42XXX\0" "?.\0"s, "bx_keydb_unpack: unknown version (2)"},
        {"BRIXDB\0" "x\0"s, "bx_keydb_unpack: unknown version (0)"},
        {kHead + "a?1\0" "?x\0" "?.\0"s, "bx_keydb_unpack: unknown ? string in buffer"},
        {kHead + "?\0"s, "bx_keydb_unpack: unknown ? string in buffer"},
        {kHead + key256 + "?v\0?.\0"s, "bx_keydb_unpack: key too long in buffer"},
        {kHead + "a?1\0"s, "bx_keydb_unpack: truncated stream."},
        {kHead + "a?1\0?."s, "bx_keydb_unpack: truncated stream."},
        {"", "bx_keydb_unpack: truncated stream."},
    };
    for (const auto &c : cases) {
        LogCapture log;
        EXPECT_EQ(unpack_exact(c.stream), nullptr) << c.line;
        EXPECT_EQ(log.texts(), std::vector<std::string>{"NonFatal error: "s + c.line + "\n"});
    }
    EXPECT_EQ(bx_keydb_unpack(nullptr, 10), nullptr);

    // Accepted oddities: a 255-character key, a repeated key (last wins),
    // a string without '?', and anything after the terminator.
    LogCapture log;
    bx_keydbel db = unpack_exact(kHead + key255 + "?v\0" "A?1\0" "plain\0" "\0" "A?2\0" "?.\0" "junk"s);
    ASSERT_NE(db, nullptr);
    EXPECT_STREQ(bx_keydb_get(db, key255.c_str()), "v");
    EXPECT_STREQ(bx_keydb_get(db, "A"), "2");
    EXPECT_EQ(pack(db), kHead + "A?2\0"s + key255 + "?v\0?.\0"s);
    bx_keydb_destroy(db);
    EXPECT_TRUE(log.lines().empty());
}

TEST(KeydbStream, InvoiceOnly) {
    struct { std::string stream; int rc; const char *invoice; const char *line; } cases[] = {
        {kHead, 0, "INV42XXX", nullptr},
        {"BRIXDB\0" "1\0" "INV\0"s, 0, "INV", nullptr},
        {"BRIXDB\0" "1\0" "INV42XXXY\0"s, -1, "", "bx_keydb_unpack_invoice: invoice too long."},
        {"BRIXDB\0" "1\0" "INV42XXX"s, -1, "", "bx_keydb_unpack_invoice: truncated stream."},
        {"BRIXDB\0" "3\0" "INV42XXX\0"s, -1, "", "bx_keydb_unpack_invoice: unknown version (3)"},
        {"NOTME\0" "1\0" "INV42XXX\0"s, -1, "", "bx_keydb_unpack_invoice: not a BRIX DB stream."},
    };
    for (const auto &c : cases) {
        LogCapture log;
        auto block = std::make_unique<char[]>(c.stream.size());
        memcpy(block.get(), c.stream.data(), c.stream.size());
        char invoice[9] = "";
        EXPECT_EQ(bx_keydb_unpack_invoice(block.get(), static_cast<int>(c.stream.size()), invoice), c.rc);
        EXPECT_STREQ(invoice, c.invoice);
        std::vector<std::string> want;
        if (c.line) want.push_back("NonFatal error: "s + c.line + "\n");
        EXPECT_EQ(log.texts(), want);
    }
}

TEST(KeydbStream, EveryProperPrefixIsRefused) {
    const std::string full = kHead + "a?1\0" "Amount?100\0" "q?\0" "?.\0"s;
    for (size_t n = 0; n < full.size(); n++) {
        LogCapture log;
        EXPECT_EQ(unpack_exact(full.substr(0, n)), nullptr) << n;
        EXPECT_EQ(log.lines().size(), 1u);
    }
    bx_keydbel db = unpack_exact(full);
    EXPECT_NE(db, nullptr);
    bx_keydb_destroy(db);
}

TEST(KeydbStream, RandomAndMutatedBytesNeverOverread) {
    // Half the cases start from a valid header so the pair reader is
    // exercised too; the rest are raw noise or a damaged valid stream.
    std::mt19937 rng(20240611);
    const std::string valid = kHead + "a?1\0" "Amount?100\0" "?.\0"s;
    const char alphabet[] = {'\0', '?', '.', 'a', '1', 'B', '\xe9'};
    LogCapture log;
    for (int i = 0; i < 3000; i++) {
        std::string s;
        switch (i % 3) {
        case 0:
            s.resize(rng() % 48);
            for (char &c : s) c = static_cast<char>(rng());
            break;
        case 1:
            s = kHead;
            for (size_t n = rng() % 40; n > 0; n--) s += alphabet[rng() % sizeof alphabet];
            break;
        default:
            s = valid;
            for (int flips = 1 + rng() % 3; flips > 0; flips--) s[rng() % s.size()] = static_cast<char>(rng());
            s.resize(rng() % (s.size() + 1));
            break;
        }
        if (bx_keydbel db = unpack_exact(s)) bx_keydb_destroy(db);
        auto block = std::make_unique<char[]>(s.size());
        memcpy(block.get(), s.data(), s.size());
        char invoice[9];
        bx_keydb_unpack_invoice(block.get(), static_cast<int>(s.size()), invoice);
        log.clear();
    }
}
