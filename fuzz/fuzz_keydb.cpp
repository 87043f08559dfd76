// fuzz_keydb: the keyed-record stream and the transaction stream form, as
// read from queue item files.
//
// Each input is a stream.  bx_keydb_unpack, bx_keydb_unpack_invoice and
// bx_xaction_unpack must agree on whether it is one; a record read from it
// must pack again into no more bytes than it came from and read back the
// same pairs, and a transaction read from it must pack and read back to
// the very same record.  The same stream with an empty string after its
// header (which every reader passes over, but which no stream this
// library writes holds) must read back to the very same record too: the
// transaction reader's quick path for its own streams and its full reader
// must agree.  The invoice goes into a buffer of exactly the
// 9 bytes callers give, so a longer copy is caught.
#include <climits>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_util.h"
#include "xaction/bx_keydb.h"
#include "xaction/bx_xaction_keydb.h"

namespace {

using Pairs = std::map<std::string, std::string>;

struct Record {
    explicit Record(bx_keydbel r) : db(r) {}
    ~Record() { bx_keydb_destroy(db); }
    Record(const Record &) = delete;
    Record &operator=(const Record &) = delete;
    bx_keydbel db;
};

Pairs pairs_of(bx_keydbel db) {
    Pairs out;
    bx_keydb_iterate(
        db,
        [](const char *key, const char *val, void *rock) {
            FUZZ_CHECK(key && *key && !strchr(key, '?') && strlen(key) <= BX_KEYDB_MAXKEY && val);
            auto &pairs = *static_cast<Pairs *>(rock);
            FUZZ_CHECK(pairs.emplace(key, val).second);  // one pair per key
            return 0;
        },
        &out);
    return out;
}

// The typed readers on every value: any text gives some number.
void read_numbers(bx_keydbel db, const Pairs &pairs) {
    for (const auto &[key, val] : pairs) {
        int b = bx_keydb_getbyte(db, key.c_str());
        FUZZ_CHECK(b >= -128 && b <= 127);
        (void)bx_keydb_getnum(db, key.c_str());
        (void)bx_keydb_getlong(db, key.c_str());
    }
}

// Unpacks the stream as a keyed record and checks it; true when taken.
bool check_record(const char *buf, int len) {
    Record rec(bx_keydb_unpack(buf, len));
    std::unique_ptr<char[]> invoice(new char[9]);
    int inv = bx_keydb_unpack_invoice(buf, len, invoice.get());
    if (!rec.db) return false;

    FUZZ_CHECK(rec.db->invoice != nullptr);
    bool short_invoice = strlen(rec.db->invoice) <= 8;
    FUZZ_CHECK((inv == 0) == short_invoice);
    if (inv == 0) FUZZ_CHECK(strcmp(invoice.get(), rec.db->invoice) == 0);

    Pairs pairs = pairs_of(rec.db);
    read_numbers(rec.db, pairs);

    // Packing drops nothing but repeats, blanks and unknown strings, so
    // the stream it writes is never longer than the one read.
    std::unique_ptr<char[]> again(new char[static_cast<size_t>(len)]);
    int n = bx_keydb_pack(rec.db, again.get(), len);
    FUZZ_CHECK(n > 0 && n <= len);
    Record back(bx_keydb_unpack(again.get(), n));
    FUZZ_CHECK(back.db != nullptr);
    FUZZ_CHECK(strcmp(back.db->invoice, rec.db->invoice) == 0);
    FUZZ_CHECK(pairs_of(back.db) == pairs);
    return true;
}

void check_xaction(const char *buf, int len, bool taken) {
    auto x = std::make_unique<_bx_xaction>();
    auto y = std::make_unique<_bx_xaction>();
    int r = bx_xaction_unpack(buf, x.get(), len);
    FUZZ_CHECK(r == (taken ? 1 : -1));
    char invoice[9];
    (void)bx_xaction_unpack_invoice(buf, invoice, len);
    if (!taken) return;

    // The header is three strings: magic, version, invoice.
    size_t head = 0;
    for (int i = 0; i < 3; i++) head += strnlen(buf + head, static_cast<size_t>(len) - head) + 1;
    std::string blanked(buf, head);
    blanked += '\0';
    blanked.append(buf + head, static_cast<size_t>(len) - head);
    auto z = std::make_unique<_bx_xaction>();
    FUZZ_CHECK(bx_xaction_unpack(blanked.data(), z.get(), static_cast<int>(blanked.size())) == 1);
    FUZZ_CHECK(memcmp(x.get(), z.get(), sizeof(_bx_xaction)) == 0);

    static std::vector<char> packed(1 << 16);
    int n = bx_xaction_pack(packed.data(), x.get(), static_cast<int>(packed.size()));
    FUZZ_CHECK(n > 0);
    FUZZ_CHECK(bx_xaction_unpack(packed.data(), y.get(), n) == 1);
    FUZZ_CHECK(memcmp(x.get(), y.get(), sizeof(_bx_xaction)) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const bool quiet = (fuzz::silence_log(), true);
    (void)quiet;
    if (size > INT_MAX) return 0;
    const char *buf = reinterpret_cast<const char *>(data);
    int len = static_cast<int>(size);
    bool taken = check_record(buf, len);
    check_xaction(buf, len, taken);
    return 0;
}
