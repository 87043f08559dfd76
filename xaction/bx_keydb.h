// bx_keydb: the keyed record and its stream format.
//
// A keyed record is an invoice plus a set of text keys with text values,
// held in a fixed hash table of 31 buckets.  It is written as a flat
// stream of NUL-terminated strings ("BRIXDB", "1", the invoice, one
// "key?value" string per pair, then "?.") which the queue store keeps in
// its item files and the processing daemon reads and writes byte for byte.
// bx_xaction_keydb maps a transaction onto keys; this module knows nothing
// of transactions.
//
// Failure policy: operations report by their result (null, 0 or -1).  A
// stream that cannot be read and a pack that overflows its buffer each log
// one NonFatal error line; allocation failures are reported by result
// only.  Readers never look at a byte at or beyond the length they are
// given, whatever the stream holds.
#ifndef BRIX_XACTION_BX_KEYDB_H
#define BRIX_XACTION_BX_KEYDB_H

#ifdef __cplusplus
extern "C" {
#endif

enum {
    BX_KEYDB_BUCKETS = 31,    // fixed bucket count; never grows
    BX_KEYDB_MAXKEY = 255     // longest key a stream may carry
};

// One key and its value; a chain link within a bucket.
typedef struct _bx_keydb_pair {
    char *key;                     // owned, never empty, never holds '?'
    char *val;                     // owned, may be empty
    struct _bx_keydb_pair *next;   // next pair of the same bucket, or null
} *bx_keydb_pair;

// The keyed record.
typedef struct _bx_keydbel {
    char *invoice;                 // owned copy of the record's invoice
    bx_keydb_pair *data;           // owned array of BX_KEYDB_BUCKETS chain heads
} *bx_keydbel;

// Bucket of a key: OR of each byte shifted left by (position mod 8), mod 31.
int make_hashkey(const char *str);

// A new empty record owning a copy of invoice; null when invoice is null
// or memory runs out (nothing is left allocated).
bx_keydbel bx_keydb_create_empty(const char *invoice);
void bx_keydb_destroy(bx_keydbel dbel);

// The record's own value text (valid until the pair is replaced, deleted
// or the record destroyed), or null.
const char *bx_keydb_get(bx_keydbel dbel, const char *key);
// 1 on success; 0 for a null, empty or '?'-holding key, a null value or
// lack of memory (the record is then unchanged).
int bx_keydb_put(bx_keydbel dbel, const char *key, const char *val);

// Decimal forms: num "%d", long "%ld", byte the low 8 bits as 0-255.
// Readers give 0 for a missing key; getbyte returns the byte sign-extended.
int bx_keydb_getnum(bx_keydbel dbel, const char *key);
long bx_keydb_getlong(bx_keydbel dbel, const char *key);
int bx_keydb_getbyte(bx_keydbel dbel, const char *key);
int bx_keydb_putnum(bx_keydbel dbel, const char *key, int val);
int bx_keydb_putlong(bx_keydbel dbel, const char *key, long val);
int bx_keydb_putbyte(bx_keydbel dbel, const char *key, int val);

void bx_keydb_delete(bx_keydbel dbel, const char *key);

// Writes the stream into buf (length bytes) and returns its length, or 0
// when it does not fit (the buffer then holds a partial stream).
int bx_keydb_pack(bx_keydbel dbel, char *buf, int length);
// A new record from the first length bytes of buf, or null.
bx_keydbel bx_keydb_unpack(const char *buf, int length);
// Copies the stream's invoice (at most 8 characters) into invoice, which
// must hold 9 bytes; 0 on success, -1 on error.
int bx_keydb_unpack_invoice(const char *buf, int length, char *invoice);

// Debug listing on standard output, pairs in stream order.
void bx_keydb_print(bx_keydbel dbel);

// Calls iterfunc for each pair in stream order until one returns non-zero;
// returns that pair's key, or null when every call returned 0.
typedef int (*bx_keydb_iterfunc)(const char *key, const char *val, void *rock);
const char *bx_keydb_iterate(bx_keydbel dbel, bx_keydb_iterfunc iterfunc, void *rock);

#ifdef __cplusplus
}

#include <cstring>
#include <string_view>

namespace brix {

// The bucket of a key (make_hashkey).  A keyed record writes its pairs
// bucket by bucket, bucket 0 first, and within a bucket the pair put last
// first: that order is the stream's, and the transaction's direct writer
// (bx_xaction_keydb.cpp) keeps to it so that the bytes stay the same.
constexpr int keydb_bucket(std::string_view key) {
    unsigned acc = 0;
    for (size_t i = 0; i < key.size(); i++) acc |= static_cast<unsigned>(static_cast<unsigned char>(key[i])) << (i % 8);
    return static_cast<int>(acc % BX_KEYDB_BUCKETS);
}

// Reads a stream's header (magic, version, invoice): null, with *pos on
// the first pair, or the refusal's log line.
const char *keydb_header(const char *buf, size_t size, std::string_view *invoice, size_t *pos);

// Reads NUL-terminated strings from a stream of known length.
struct keydb_reader {
    const char *buf;
    size_t size;
    size_t pos = 0;

    // The next string; false when its NUL does not lie inside the stream.
    bool next(std::string_view &out) {
        if (!buf || pos >= size) return false;
        const void *nul = memchr(buf + pos, '\0', size - pos);
        if (!nul) return false;
        size_t n = static_cast<size_t>(static_cast<const char *>(nul) - (buf + pos));
        out = std::string_view(buf + pos, n);
        pos += n + 1;
        return true;
    }
};

// The one reader of the stream form.  Reads the header and every pair of
// a stream, refusing it exactly as bx_keydb_unpack does; visit(key, value)
// is called for each pair in stream order (the value NUL-terminated inside
// the stream) and may stop the walk by returning false.  Returns null when
// the stream was read to its terminator, else the refusal's log line (not
// logged here), or "" when `visit` stopped it.  Never reads past length.
template <typename Visit>
const char *keydb_scan(const char *buf, int length, std::string_view *invoice, Visit &&visit) {
    size_t size = length > 0 ? static_cast<size_t>(length) : 0, pos = 0;
    if (const char *refused = keydb_header(buf, size, invoice, &pos)) return refused;
    keydb_reader in{buf, size, pos};
    for (std::string_view s; in.next(s);) {
        if (s.empty()) continue;  // no '?': not a pair
        if (s[0] == '?') {
            if (s.size() >= 2 && s[1] == '.') return nullptr;  // terminator: done
            return "bx_keydb_unpack: unknown ? string in buffer";
        }
        size_t k = s.find('?');
        if (k == std::string_view::npos) continue;
        if (k > BX_KEYDB_MAXKEY) return "bx_keydb_unpack: key too long in buffer";
        if (!visit(s.substr(0, k), s.substr(k + 1))) return "";
    }
    return "bx_keydb_unpack: truncated stream.";
}

// The decimal reading of a stored value (C-locale blanks, a sign, digits;
// what follows is ignored), saturating at [lo, hi].  One digit, the form
// most stored numbers take, is read here without a call.
long long keydb_decimal_text(std::string_view text, long long lo, long long hi);
inline long long keydb_decimal(std::string_view text, long long lo, long long hi) {
    if (text.size() == 1 && text[0] >= '0' && text[0] <= '9') {
        long long v = text[0] - '0';
        return v < lo ? lo : v > hi ? hi : v;
    }
    return keydb_decimal_text(text, lo, hi);
}

// Appends a pair "key?value" and its NUL to a stream being written; false
// when it does not fit.  Starts and ends a stream the same way.
struct keydb_writer {
    char *buf;
    size_t size;
    size_t pos = 0;
    bool header(std::string_view invoice);
    bool pair(std::string_view key, std::string_view value) {
        // key, '?', value and the NUL must fit in the room left.
        if (!buf || key.size() + 1 + value.size() >= size - pos) return false;
        memcpy(buf + pos, key.data(), key.size());
        pos += key.size();
        buf[pos++] = '?';
        memcpy(buf + pos, value.data(), value.size());
        pos += value.size();
        buf[pos++] = '\0';
        return true;
    }
    // The terminator; on overflow logs "bx_keydb_pack: buffer has
    // overflowed." and returns 0, else the stream's length.
    int finish(bool fits);
};

}  // namespace brix
#endif

#endif
