// bx_xaction_keydb: the key table of a stored transaction, walked both
// ways, and the one statement of which stored values are secret.  See
// bx_xaction_keydb.h.  Called by the operations that create, fill, report
// on and move transactions, and by everything that shows a stored record.
//
// The table below IS the stream form: its rows are written into the stream
// in the keyed record's order (brix::keydb_bucket), so that equal records
// pack to equal bytes, and read back in table order so that a row's
// condition sees the dbtype, format and result flag that earlier rows have
// just read.  Failures are reported by result; a refused stream and an
// overflow are logged by the stream reader and writer.
#include "xaction/bx_xaction_keydb.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <utility>

#include "support/qor_log.h"
#include "support/qor_util.h"
#include "xaction/bx_keydb.h"

namespace {

// How a field is written as text.
enum class Enc : unsigned char {
    num,   // int, "%d"
    lng,   // time_t, "%ld" of its long value
    byte,  // char, its unsigned code 0-255
    text,  // fixed text field as is
};

// When a row is stored.
enum class When : unsigned char {
    always,
    nonempty,   // text field not empty (read back whenever present)
    card,       // dbtype 1
    cheque,     // dbtype 2
    ach,        // dbtype 3
    retail,     // subtype.format 6
    licence,    // subtype.format 98
    result,     // hasresult not 0
};

struct Row {
    const char *key;     // stream key, shared with the daemon
    size_t offset;       // field position in _bx_xaction
    size_t width;        // field size in bytes (text: N - 1 characters)
    Enc enc;
    When when;
    bx_sensitivity shown = BX_SENSITIVE_NONE;  // how the value may be shown
};

constexpr bx_sensitivity kLastFour = BX_SENSITIVE_LAST_FOUR;
constexpr bx_sensitivity kHidden = BX_SENSITIVE_HIDDEN;

#define FIELD(m) offsetof(struct _bx_xaction, m), sizeof(std::declval<struct _bx_xaction &>().m)

constexpr Row kRows[] = {
    {"Amount", FIELD(amount), Enc::num, When::always},
    {"TaxAmount", FIELD(tax), Enc::num, When::always},
    {"DBType", FIELD(dbtype), Enc::num, When::always},
    {"SubtypePFlag", FIELD(subtype.pflag), Enc::num, When::always},
    {"SubtypePType", FIELD(subtype.ptype), Enc::num, When::always},
    {"SubtypeType", FIELD(subtype.type), Enc::num, When::always},
    {"SubtypeCode", FIELD(subtype.code), Enc::num, When::always},
    {"SubtypeFormat", FIELD(subtype.format), Enc::num, When::always},
    {"BatchNumber", FIELD(bnum), Enc::num, When::always},
    {"ItemNumber", FIELD(inum), Enc::num, When::always},
    {"ItemBeenSent", FIELD(sent), Enc::num, When::always},
    {"ItemCType", FIELD(counted), Enc::num, When::always},
    {"ProductName", FIELD(acc.check.product), Enc::text, When::always},
    {"CCTrack1", FIELD(track1), Enc::text, When::always, kHidden},
    {"CCTrack2", FIELD(track2), Enc::text, When::always, kHidden},
    {"PurchaseOrderNum", FIELD(purchaseorder), Enc::text, When::always},
    {"ShippingZipCode", FIELD(ship_zip), Enc::text, When::always},
    {"MCEncryption", FIELD(encryption), Enc::num, When::always},
    {"MCSETMerchant", FIELD(set_merchant), Enc::text, When::always},
    {"MCSETCardholder", FIELD(set_cardholder), Enc::text, When::always},
    {"CVV2Status", FIELD(cvv2.status), Enc::num, When::always},
    {"CVV2Value", FIELD(cvv2.val), Enc::text, When::always, kHidden},
    {"CVV2ResultCode", FIELD(cvv2.code), Enc::byte, When::always},
    {"Cookie1", FIELD(cookie1), Enc::text, When::nonempty},
    {"Cookie2", FIELD(cookie2), Enc::text, When::nonempty},
    {"Cookie3", FIELD(cookie3), Enc::text, When::nonempty},
    {"CCNumber", FIELD(acc.card.num), Enc::text, When::card, kLastFour},
    {"CCExpDate", FIELD(acc.card.edate), Enc::text, When::card},
    {"ACHAccountName", FIELD(acc.check.accname), Enc::text, When::card},
    {"ChkTransRoutingNumber", FIELD(acc.check.troutnum), Enc::text, When::cheque},
    {"ChkBankAccountNumber", FIELD(acc.check.bankaccnum), Enc::text, When::cheque, kLastFour},
    {"ChkSequenceNumber", FIELD(acc.check.checknum), Enc::text, When::cheque},
    {"ACHTransRoutingNumber", FIELD(acc.check.troutnum), Enc::text, When::ach},
    {"ACHBankAccountNumber", FIELD(acc.check.bankaccnum), Enc::text, When::ach, kLastFour},
    {"ACHAccountName", FIELD(acc.check.accname), Enc::text, When::ach},
    {"ACHAccountType", FIELD(acc.check.acctype), Enc::num, When::ach},
    {"TimeCreated", FIELD(time.creat), Enc::lng, When::always},
    {"TimeAuth", FIELD(time.auth), Enc::lng, When::always},
    {"TimeReady", FIELD(time.ready), Enc::lng, When::always},
    {"TimeDone", FIELD(time.done), Enc::lng, When::always},
    {"EntrySource", FIELD(entrysource), Enc::num, When::always},
    {"RType", FIELD(rtype), Enc::num, When::always},
    {"RetailComment", FIELD(data.retail.comment), Enc::text, When::retail},
    {"RetailAVSFlag", FIELD(data.retail.avsflag), Enc::num, When::retail},
    {"RetailAVSCode", FIELD(data.retail.avs_code), Enc::byte, When::retail},
    {"RetailAddress", FIELD(data.retail.addr), Enc::text, When::retail},
    {"RetailZipCode", FIELD(data.retail.zip), Enc::text, When::retail},
    {"RetailTransID", FIELD(data.retail.trans_id), Enc::text, When::retail},
    {"RetailMoTo", FIELD(data.retail.moto), Enc::byte, When::retail},
    {"RetailAuthChar", FIELD(data.retail.authchar), Enc::byte, When::retail},
    {"RetailAuthSourceChar", FIELD(data.retail.authsrcchar), Enc::byte, When::retail},
    {"RetailAuthNetID", FIELD(data.retail.authnetid), Enc::text, When::retail},
    {"RetailCardType", FIELD(data.retail.cardtype), Enc::text, When::retail},
    {"CheckDVSFlag", FIELD(data.check.dvsflag), Enc::num, When::licence},
    {"DriversLicenseNumber", FIELD(data.check.licensenum), Enc::text, When::licence},
    {"DriversLicenseState", FIELD(data.check.licensestate), Enc::text, When::licence},
    {"MAPPAuthCode", FIELD(authcode), Enc::text, When::always},
    {"MAPPValCode", FIELD(valcode), Enc::text, When::always},
    {"MAPPMSI", FIELD(msi), Enc::byte, When::always},
    {"MAPPRetRef", FIELD(retref), Enc::text, When::always},
    {"MAPPDateStamp", FIELD(datestamp), Enc::text, When::always},
    {"MAPPPEM", FIELD(pem), Enc::byte, When::always},
    {"HasResult", FIELD(hasresult), Enc::num, When::always},
    {"ResultFormat", FIELD(result.format), Enc::num, When::result},
    {"ResultACode", FIELD(result.acode), Enc::num, When::result},
    {"ResultRCode", FIELD(result.rcode), Enc::num, When::result},
    {"ResultRetry", FIELD(result.retry), Enc::num, When::result},
    {"ResultRCodeChar", FIELD(result.rcodec), Enc::text, When::result},
    {"ResultRCodeISO", FIELD(result.rcodeiso), Enc::text, When::result},
    {"ResultBatchNumber", FIELD(result.batchnum), Enc::num, When::result},
    {"ResultItemNumber", FIELD(result.itemnum), Enc::num, When::result},
    {"ResultAuthCode", FIELD(result.authcode), Enc::text, When::result},
    {"ResultValCode", FIELD(result.valcode), Enc::text, When::result},
    {"ResultDateStamp", FIELD(result.datestamp), Enc::text, When::result},
    {"ResultRetRef", FIELD(result.retref), Enc::text, When::result},
    {"ResultText", FIELD(result.text), Enc::text, When::result},
    {"ResultAVSCode", FIELD(result.data.retail.avs_code), Enc::byte, When::result},
    {"ResultAuthChar", FIELD(result.data.retail.authchar), Enc::byte, When::result},
    {"ResultAuthSourceChar", FIELD(result.data.retail.authsrcchar), Enc::byte, When::result},
    {"ResultAuthNetID", FIELD(result.data.retail.authnetid), Enc::text, When::result},
    {"ResultCardType", FIELD(result.data.retail.cardtype), Enc::text, When::result},
    {"ResultTransID", FIELD(result.data.retail.transid), Enc::text, When::result},
    {"ResultMarketID", FIELD(result.data.retail.marketid), Enc::byte, When::result},
};

#undef FIELD

// Longest text field (the result text, 257 bytes).
constexpr size_t kMaxText = 257;

// Every row must describe its field exactly: a wrong width here would
// read or write beside the field.
consteval bool rows_match_fields() {
    for (const Row &r : kRows) {
        switch (r.enc) {
        case Enc::num: if (r.width != sizeof(int)) return false; break;
        case Enc::lng: if (r.width != sizeof(time_t)) return false; break;
        case Enc::byte: if (r.width != sizeof(char)) return false; break;
        case Enc::text: if (r.width < 2 || r.width > kMaxText) return false; break;
        }
        if (r.offset + r.width > sizeof(struct _bx_xaction)) return false;
    }
    return true;
}
// A field stored under two keys is equally secret under both, and only
// text is masked or hidden.
consteval bool sensitivity_is_per_field() {
    for (const Row &r : kRows) {
        if (r.shown != BX_SENSITIVE_NONE && r.enc != Enc::text) return false;
        for (const Row &o : kRows)
            if (o.offset == r.offset && o.shown != r.shown) return false;
    }
    return true;
}
static_assert(std::size(kRows) == 83, "the stored form has 83 keys");
static_assert(rows_match_fields(), "a key row does not fit its field");
static_assert(sensitivity_is_per_field(), "a field's keys disagree on its sensitivity");

char *field_of(bx_xaction x, const Row &r) { return reinterpret_cast<char *>(x) + r.offset; }

// A last-four value shows '*' for each character but its last kKeep; a
// hidden one shows kHiddenText.
constexpr char kMaskChar = '*';
constexpr char kHiddenText[] = "(hidden)";
constexpr size_t kKeep = 4;

// The conditions a record meets, one bit per When.  On reading, `x`
// holds what the earlier rows have read (so the reader asks again after
// each row that decides a condition), and a present cookie is always
// taken; on writing, a cookie is written when its field is not empty.
constexpr unsigned bit(When w) { return 1u << static_cast<unsigned>(w); }
unsigned conditions(bx_xaction x, bool reading) {
    return bit(When::always) | (reading ? bit(When::nonempty) : 0) |
           (x->dbtype == BX_DBTYPE_CARD ? bit(When::card) : 0) |
           (x->dbtype == BX_DBTYPE_CHECK ? bit(When::cheque) : 0) |
           (x->dbtype == BX_DBTYPE_ACH ? bit(When::ach) : 0) |
           (x->subtype.format == BX_FORMAT_RETAIL ? bit(When::retail) : 0) |
           (x->subtype.format == BX_FORMAT_CHECK ? bit(When::licence) : 0) |
           (x->hasresult != 0 ? bit(When::result) : 0);
}
bool applies(unsigned met, bx_xaction x, const Row &r) {
    if (met & bit(r.when)) return true;
    return r.when == When::nonempty && field_of(x, r)[0] != '\0';
}
// The rows whose value decides a condition: kind, format, result flag.
constexpr std::array<bool, std::size(kRows)> kDecides = [] {
    std::array<bool, std::size(kRows)> decides{};
    constexpr size_t fields[] = {offsetof(struct _bx_xaction, dbtype), offsetof(struct _bx_xaction, subtype.format),
                                 offsetof(struct _bx_xaction, hasresult)};
    for (size_t i = 0; i < std::size(kRows); i++)
        for (size_t f : fields) decides[i] = decides[i] || kRows[i].offset == f;
    return decides;
}();
// No other row's field overlaps a deciding one, so a condition changes
// only where the reader asks again.
consteval bool only_deciders_decide() {
    for (size_t i = 0; i < std::size(kRows); i++)
        for (size_t j = 0; j < std::size(kRows); j++)
            if (kDecides[j] && !kDecides[i] && kRows[i].offset < kRows[j].offset + kRows[j].width &&
                kRows[j].offset < kRows[i].offset + kRows[i].width)
                return false;
    return true;
}
static_assert(only_deciders_decide(), "a row's field overlaps the kind, format or result flag");

// Rows are put in table order, so the stream order (brix::keydb_bucket) is:
// by bucket, then by falling table position.  The transaction is written
// in that order straight into the stream, and its pairs are read straight
// out of it, with no keyed record in between; the bytes are the same.
constexpr size_t kRowCount = std::size(kRows);

constexpr std::array<unsigned char, kRowCount> kStreamOrder = [] {
    std::array<unsigned char, kRowCount> order{};
    for (size_t i = 0; i < kRowCount; i++) order[i] = static_cast<unsigned char>(i);
    std::sort(order.begin(), order.end(), [](unsigned char a, unsigned char b) {
        int ba = brix::keydb_bucket(kRows[a].key), bb = brix::keydb_bucket(kRows[b].key);
        return ba != bb ? ba < bb : a > b;
    });
    return order;
}();

// Rows that share a key apply to records of different kinds, so no record
// writes a key twice.
consteval bool shared_keys_exclude_each_other() {
    for (size_t i = 0; i < kRowCount; i++)
        for (size_t j = i + 1; j < kRowCount; j++)
            if (std::string_view(kRows[i].key) == kRows[j].key &&
                !((kRows[i].when == When::card && kRows[j].when == When::ach) ||
                  (kRows[i].when == When::ach && kRows[j].when == When::card)))
                return false;
    return true;
}
static_assert(shared_keys_exclude_each_other(), "two rows of one key could both apply");

// The keys in byte order, each with the first row that names it, so that a
// stream's pair finds its row by binary search.
struct KeyRow {
    std::string_view key;
    unsigned char row;
};
constexpr std::array<KeyRow, kRowCount> kByKey = [] {
    std::array<KeyRow, kRowCount> keys{};
    for (size_t i = 0; i < kRowCount; i++) keys[i] = {kRows[i].key, static_cast<unsigned char>(i)};
    std::sort(keys.begin(), keys.end(), [](const KeyRow &a, const KeyRow &b) {
        return a.key != b.key ? a.key < b.key : a.row < b.row;
    });
    return keys;
}();

// The first row of a key, or -1.
int row_of(std::string_view key) {
    auto it = std::lower_bound(kByKey.begin(), kByKey.end(), key,
                               [](const KeyRow &k, std::string_view v) { return k.key < v; });
    return it != kByKey.end() && it->key == key ? it->row : -1;
}

// Each row's first row of the same key.
constexpr std::array<unsigned char, kRowCount> kFirstRow = [] {
    std::array<unsigned char, kRowCount> first{};
    for (size_t i = 0; i < kRowCount; i++) {
        first[i] = static_cast<unsigned char>(i);
        for (size_t j = 0; j < i; j++)
            if (std::string_view(kRows[j].key) == kRows[i].key) {
                first[i] = static_cast<unsigned char>(j);
                break;
            }
    }
    return first;
}();

// Each stream position's key as the stream writes it, "Key?", NUL-padded
// to kKeyRoom bytes so that it is copied and compared a word at a time.
constexpr size_t kKeyRoom = 24;
struct StreamKey {
    std::array<char, kKeyRoom> text;  // "Key?", then NULs
    std::array<uint64_t, kKeyRoom / 8> mask;  // per word of text, the bits of "Key?" (little-endian)
    unsigned char len;                // bytes of "Key?"
    unsigned char row;                // its row in kRows
    unsigned char first;              // the first row of the same key
};
constexpr std::array<StreamKey, kRowCount> kStreamKeys = [] {
    std::array<StreamKey, kRowCount> keys{};
    for (size_t i = 0; i < kRowCount; i++) {
        std::string_view key = kRows[kStreamOrder[i]].key;
        StreamKey &k = keys[i];
        for (size_t j = 0; j < key.size() && j + 1 < kKeyRoom; j++) k.text[j] = key[j];
        k.text[std::min(key.size(), kKeyRoom - 1)] = '?';
        k.len = static_cast<unsigned char>(key.size() + 1);
        for (size_t j = 0; j < k.len; j++) k.mask[j / 8] |= uint64_t{0xFF} << (8 * (j % 8));
        k.row = kStreamOrder[i];
        k.first = kFirstRow[kStreamOrder[i]];
    }
    return keys;
}();
consteval bool keys_fit_their_room() {
    for (const Row &r : kRows)
        if (std::string_view(r.key).size() + 1 > kKeyRoom) return false;
    return true;
}
static_assert(keys_fit_their_room(), "a key and its '?' outgrow kKeyRoom");

// Whether the stream holds k's "Key?" at pos.  Reads only inside the
// stream: the word compare runs where a whole kKeyRoom is left.
bool key_at(const char *buf, size_t size, size_t pos, const StreamKey &k) {
    if (size - pos <= k.len) return false;  // no room for the value's NUL
    if constexpr (std::endian::native == std::endian::little) {
        if (size - pos >= kKeyRoom) {
            uint64_t diff = 0;
#pragma GCC unroll 3
            for (size_t w = 0; w < kKeyRoom / 8; w++) {
                uint64_t a, b;
                memcpy(&a, buf + pos + 8 * w, 8);
                memcpy(&b, k.text.data() + 8 * w, 8);
                diff |= (a ^ b) & k.mask[w];
            }
            return diff == 0;
        }
    }
    return memcmp(buf + pos, k.text.data(), k.len) == 0;
}

// Reads the pairs of a stream this library wrote: every key known, in
// stream order, then the terminator "?." alone.  Any other stream (keys
// out of order, unknown or repeated, empty strings, damage) makes it give
// up: false, and the full reader takes the stream from the start.  Where
// it succeeds it sees exactly the pairs the full reader would.
bool read_in_order(const char *buf, size_t size, size_t pos, std::array<std::string_view, kRowCount> &by_row) {
    for (const StreamKey &k : kStreamKeys) {
        if (!key_at(buf, size, pos, k)) continue;
        size_t value = pos + k.len, end = value;
        while (end < size && buf[end] != '\0') end++;
        if (end == size) return false;
        by_row[k.first] = std::string_view(buf + value, end - value);
        pos = end + 1;
    }
    return size - pos >= 3 && buf[pos] == '?' && buf[pos + 1] == '.' && buf[pos + 2] == '\0';
}

// Writes the pair "Key?value" of one field and its NUL into the stream;
// false when it does not fit (key, '?', value and NUL must fit in the
// room left, as for any pair).  The key goes in as one block where the
// room allows, the value is written in place.
bool put_field(brix::keydb_writer &out, const StreamKey &k, bx_xaction x, const Row &r) {
    size_t room = out.size - out.pos;
    if (k.len >= room) return false;
    char *p = out.buf + out.pos;
    if (room >= kKeyRoom)
        memcpy(p, k.text.data(), kKeyRoom);
    else
        memcpy(p, k.text.data(), k.len);
    p += k.len;
    room -= k.len;
    const char *f = field_of(x, r);
    long long v = 0;
    switch (r.enc) {
    case Enc::num: {
        int n;
        memcpy(&n, f, sizeof n);
        v = n;
        break;
    }
    case Enc::lng: {
        time_t t;
        memcpy(&t, f, sizeof t);
        v = static_cast<long>(t);
        break;
    }
    case Enc::byte:
        v = static_cast<int>(static_cast<unsigned>(*f) & 0xFFu);
        break;
    case Enc::text: {
        // Bounded even if the field lost its terminator.
        size_t n = strnlen(f, r.width - 1);
        if (n >= room) return false;
        memcpy(p, f, n);
        p += n;
        break;
    }
    }
    if (r.enc != Enc::text) {
        if (v >= 0 && v <= 9 && room >= 2) {
            *p++ = static_cast<char>('0' + v);
        } else {
            // The digits must leave room for the NUL.
            auto [end, ec] = std::to_chars(p, p + room - 1, v);
            if (ec != std::errc{}) return false;
            p = end;
        }
    }
    *p++ = '\0';
    out.pos = static_cast<size_t>(p - out.buf);
    return true;
}

// Reads one field from its stored value.
void set_field(bx_xaction x, const Row &r, std::string_view v) {
    char *f = field_of(x, r);
    switch (r.enc) {
    case Enc::num: {
        int n = static_cast<int>(brix::keydb_decimal(v, INT_MIN, INT_MAX));
        memcpy(f, &n, sizeof n);
        break;
    }
    case Enc::lng: {
        time_t t = static_cast<time_t>(brix::keydb_decimal(v, LONG_MIN, LONG_MAX));
        memcpy(f, &t, sizeof t);
        break;
    }
    case Enc::byte:
        // Only the low 8 bits count: "233" is the byte 0xE9.
        *f = static_cast<char>(static_cast<unsigned long long>(brix::keydb_decimal(v, INT_MIN, INT_MAX)) & 0xFFu);
        break;
    case Enc::text:
        // A value from a damaged or foreign stream is cut to the field.
        memcpy(f, v.data(), std::min(v.size(), r.width - 1));
        break;
    }
}

}  // namespace

extern "C" {

int bx_xaction_pack(char *buf, bx_xaction xact, int len) {
    if (!xact) return 0;
    const auto &invoice = xact->data.retail.invoice;
    brix::keydb_writer out{buf, len > 0 ? static_cast<size_t>(len) : 0};
    bool fits = out.header(std::string_view(invoice, strnlen(invoice, sizeof invoice - 1)));
    const unsigned met = conditions(xact, false);
    for (size_t i = 0; fits && i < kRowCount; i++) {
        const StreamKey &k = kStreamKeys[i];
        const Row &r = kRows[k.row];
        if (applies(met, xact, r)) fits = put_field(out, k, xact, r);
    }
    return out.finish(fits);
}

int bx_xaction_unpack(const char *buf, bx_xaction xact, int len) {
    if (!xact) return -1;
    memset(xact, 0, sizeof *xact);
    // Each key's value, the last one a stream gives (a keyed record keeps
    // that one); keys no row knows are passed over.  A value views its
    // bytes in the stream, so even an empty one is not null: a null view
    // is a key the stream lacks.
    std::array<std::string_view, kRowCount> by_row{};
    std::string_view invoice;
    size_t size = len > 0 ? static_cast<size_t>(len) : 0, pos = 0;
    const char *failure = brix::keydb_header(buf, size, &invoice, &pos);
    if (!failure && !read_in_order(buf, size, pos, by_row)) {
        by_row = {};
        auto take = [&](std::string_view key, std::string_view value) {
            if (int r = row_of(key); r >= 0) by_row[static_cast<size_t>(r)] = value;
            return true;
        };
        failure = brix::keydb_scan(buf, len, &invoice, take);
    }
    if (failure) {
        qor_log(QOR_LOG_NONFATAL, failure);
        return -1;
    }
    memcpy(xact->data.retail.invoice, invoice.data(), std::min(invoice.size(), sizeof xact->data.retail.invoice - 1));
    // Rows are read in table order: a row's condition sees the kind,
    // format and result flag that earlier rows have read.
    unsigned met = conditions(xact, true);
    for (size_t i = 0; i < kRowCount; i++) {
        const Row &r = kRows[i];
        std::string_view v = by_row[kFirstRow[i]];
        if (!v.data() || !applies(met, xact, r)) continue;
        set_field(xact, r, v);
        if (kDecides[i]) met = conditions(xact, true);
    }
    return 1;
}

int bx_xaction_unpack_invoice(const char *buf, char *invoice, int len) {
    return bx_keydb_unpack_invoice(buf, len, invoice) == 0 ? 1 : 0;
}

bx_sensitivity bx_xaction_key_sensitivity(const char *key) {
    int r = key ? row_of(key) : -1;
    return r < 0 ? BX_SENSITIVE_NONE : kRows[static_cast<size_t>(r)].shown;
}

size_t bx_xaction_show(bx_sensitivity how, const char *value, size_t width, char *out,
                       size_t outlen) {
    if (!out || outlen == 0) return 0;
    size_t len = value ? strnlen(value, width) : 0;
    size_t n = 0;
    if (len > 0 && how == BX_SENSITIVE_HIDDEN) {
        n = std::min(sizeof kHiddenText - 1, outlen - 1);
        memcpy(out, kHiddenText, n);
    } else {
        n = std::min(len, outlen - 1);
        for (size_t i = 0; i < n; i++)
            out[i] = how == BX_SENSITIVE_LAST_FOUR && i + kKeep < len ? kMaskChar : value[i];
    }
    out[n] = '\0';
    return n;
}

void bx_xaction_blank_secrets(bx_xaction x) {
    if (!x) return;
    for (const Row &r : kRows)
        if (r.shown == BX_SENSITIVE_HIDDEN) memset(field_of(x, r), 0, r.width);
}

}  // extern "C"

std::string brix::xaction_shown(const char *key, std::string_view value) {
    std::string out(value.size() + sizeof kHiddenText, '\0');
    out.resize(bx_xaction_show(bx_xaction_key_sensitivity(key), value.data(), value.size(),
                               out.data(), out.size()));
    return out;
}
