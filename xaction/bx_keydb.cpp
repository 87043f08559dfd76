// bx_keydb: keyed record, typed accessors and the stream reader/writer.
// See bx_keydb.h.  Called by bx_xaction_keydb (transactions to and from
// their stored form).
//
// Records are plain malloc'd C structures because their callers release
// them with bx_keydb_destroy and may hold them across C code; nothing here
// throws.  Stream readers treat the buffer as hostile: every string must
// end with a NUL inside the given length, or the stream is refused.
#include "xaction/bx_keydb.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "support/qor_log.h"
#include "support/qor_util.h"

namespace {

constexpr char kMagic[] = "BRIXDB";
constexpr char kVersion[] = "1";
constexpr char kTerminator[] = "?.";
constexpr int kStreamVersion = 1;

// Releases one pair and its texts.
void free_pair(bx_keydb_pair p) {
    free(p->key);
    free(p->val);
    free(p);
}

bool valid_key(const char *key) { return key && *key && !strchr(key, '?'); }

// The pair of `key`, or null; `link` receives the slot that points at it
// so that callers can unlink it.
bx_keydb_pair find_pair(bx_keydbel dbel, const char *key, bx_keydb_pair **link = nullptr) {
    bx_keydb_pair *slot = &dbel->data[make_hashkey(key)];
    for (; *slot; slot = &(*slot)->next) {
        if (strcmp((*slot)->key, key) == 0) {
            if (link) *link = slot;
            return *slot;
        }
    }
    return nullptr;
}

// Visits the pairs in stream order (bucket 0 to 30, chain order) until
// `visit` returns true; returns the pair it stopped at.
template <typename Visit>
bx_keydb_pair walk(bx_keydbel dbel, Visit visit) {
    for (int b = 0; b < BX_KEYDB_BUCKETS; b++)
        for (bx_keydb_pair p = dbel->data[b]; p; p = p->next)
            if (visit(p)) return p;
    return nullptr;
}

// atoi/atol-style decimal reading (C-locale blanks, optional sign, digits,
// anything after is ignored) that saturates at [lo, hi] instead of
// overflowing, and never looks beyond `text`.
long long read_decimal(std::string_view text, long long lo, long long hi) {
    // The form this library writes: a few digits, perhaps a minus sign.
    if (!text.empty() && text.size() <= 18) {
        size_t d = text[0] == '-' ? 1 : 0;
        long long v = 0;
        size_t i = d;
        for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; i++) v = v * 10 + (text[i] - '0');
        if (i == text.size() && i > d) {
            v = d ? -v : v;
            return v < lo ? lo : v > hi ? hi : v;
        }
    }
    size_t i = 0;
    auto blank = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    while (i < text.size() && blank(text[i])) i++;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    // The magnitude sticks at 2^63 once it gets there, which is beyond
    // every range asked for, so the clamp below sees the right side.
    constexpr unsigned long long cap = static_cast<unsigned long long>(LLONG_MAX) + 1;
    unsigned long long acc = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; i++) {
        unsigned d = static_cast<unsigned>(text[i] - '0');
        acc = acc > (cap - d) / 10 ? cap : acc * 10 + d;
    }
    long long v;
    if (negative)
        v = acc >= cap ? LLONG_MIN : -static_cast<long long>(acc);
    else
        v = acc > static_cast<unsigned long long>(LLONG_MAX) ? LLONG_MAX : static_cast<long long>(acc);
    return v < lo ? lo : v > hi ? hi : v;
}

long long read_value(bx_keydbel dbel, const char *key, long long lo, long long hi) {
    const char *val = bx_keydb_get(dbel, key);
    return val ? read_decimal(val, lo, hi) : 0;
}

// Writes NUL-terminated strings into the caller's buffer; a string goes in
// only if its length is smaller than the room left.
struct Writer {
    char *buf;
    size_t size;
    size_t pos = 0;

    bool put(std::string_view s) {
        if (!buf || s.size() >= size - pos) return false;
        memcpy(buf + pos, s.data(), s.size());
        pos += s.size();
        buf[pos++] = '\0';
        return true;
    }
};

using Reader = brix::keydb_reader;

enum class Header { ok, truncated, foreign, version };

// Reads magic, version and invoice.  `invoice` views a NUL-terminated
// string inside the stream.
Header read_header(Reader &in, std::string_view &invoice, int &version) {
    std::string_view magic, ver;
    if (!in.next(magic)) return Header::truncated;
    if (magic != kMagic) return Header::foreign;
    if (!in.next(ver)) return Header::truncated;
    version = static_cast<int>(read_decimal(ver, INT_MIN, INT_MAX));
    if (version != kStreamVersion) return Header::version;
    if (!in.next(invoice)) return Header::truncated;
    return Header::ok;
}

// The refusal of a header in the words of the reader named `who`; null
// for a header that is fine.  The text lives until the next call.
const char *refusal(const char *who, Header h, int version) {
    static thread_local char line[96];
    switch (h) {
    case Header::truncated: snprintf(line, sizeof line, "%s: truncated stream.", who); break;
    case Header::foreign: snprintf(line, sizeof line, "%s: not a BRIX DB stream.", who); break;
    case Header::version: snprintf(line, sizeof line, "%s: unknown version (%d)", who, version); break;
    case Header::ok: return nullptr;
    }
    return line;
}

size_t stream_size(int length) { return length > 0 ? static_cast<size_t>(length) : 0; }

}  // namespace

extern "C" {

int make_hashkey(const char *str) { return str ? brix::keydb_bucket(str) : 0; }

bx_keydbel bx_keydb_create_empty(const char *invoice) {
    if (!invoice) return nullptr;
    auto dbel = static_cast<bx_keydbel>(malloc(sizeof(struct _bx_keydbel)));
    if (!dbel) return nullptr;
    dbel->invoice = qor_util_strdup(invoice);
    dbel->data = static_cast<bx_keydb_pair *>(calloc(BX_KEYDB_BUCKETS, sizeof(bx_keydb_pair)));
    if (!dbel->invoice || !dbel->data) {
        free(dbel->invoice);
        free(dbel->data);
        free(dbel);
        return nullptr;
    }
    return dbel;
}

void bx_keydb_destroy(bx_keydbel dbel) {
    if (!dbel) return;
    if (dbel->data) {
        for (int b = 0; b < BX_KEYDB_BUCKETS; b++) {
            for (bx_keydb_pair p = dbel->data[b]; p;) {
                bx_keydb_pair next = p->next;
                free_pair(p);
                p = next;
            }
        }
        free(dbel->data);
    }
    free(dbel->invoice);
    free(dbel);
}

const char *bx_keydb_get(bx_keydbel dbel, const char *key) {
    if (!dbel || !key || !*key) return nullptr;
    bx_keydb_pair p = find_pair(dbel, key);
    return p ? p->val : nullptr;
}

int bx_keydb_put(bx_keydbel dbel, const char *key, const char *val) {
    if (!dbel || !valid_key(key) || !val) return 0;
    char *copy = qor_util_strdup(val);
    if (!copy) return 0;
    if (bx_keydb_pair p = find_pair(dbel, key)) {
        // Replace in place: the pair keeps its position in the chain, and
        // the old value goes only now that the new copy exists.
        free(p->val);
        p->val = copy;
        return 1;
    }
    auto p = static_cast<bx_keydb_pair>(malloc(sizeof(struct _bx_keydb_pair)));
    char *kcopy = p ? qor_util_strdup(key) : nullptr;
    if (!kcopy) {
        free(p);
        free(copy);
        return 0;
    }
    p->key = kcopy;
    p->val = copy;
    bx_keydb_pair &head = dbel->data[make_hashkey(key)];
    p->next = head;
    head = p;
    return 1;
}

int bx_keydb_getnum(bx_keydbel dbel, const char *key) {
    return static_cast<int>(read_value(dbel, key, INT_MIN, INT_MAX));
}

long bx_keydb_getlong(bx_keydbel dbel, const char *key) {
    return static_cast<long>(read_value(dbel, key, LONG_MIN, LONG_MAX));
}

int bx_keydb_getbyte(bx_keydbel dbel, const char *key) {
    // Only the low 8 bits count: "233" is the byte 0xE9.
    auto v = static_cast<unsigned long long>(read_value(dbel, key, INT_MIN, INT_MAX));
    return static_cast<signed char>(static_cast<unsigned char>(v & 0xFFu));
}

int bx_keydb_putnum(bx_keydbel dbel, const char *key, int val) {
    char text[16];
    snprintf(text, sizeof text, "%d", val);
    return bx_keydb_put(dbel, key, text);
}

int bx_keydb_putlong(bx_keydbel dbel, const char *key, long val) {
    char text[32];
    snprintf(text, sizeof text, "%ld", val);
    return bx_keydb_put(dbel, key, text);
}

int bx_keydb_putbyte(bx_keydbel dbel, const char *key, int val) {
    char text[8];
    snprintf(text, sizeof text, "%d", static_cast<int>(static_cast<unsigned>(val) & 0xFFu));
    return bx_keydb_put(dbel, key, text);
}

void bx_keydb_delete(bx_keydbel dbel, const char *key) {
    if (!dbel || !key || !*key) return;
    bx_keydb_pair *link = nullptr;
    if (bx_keydb_pair p = find_pair(dbel, key, &link)) {
        *link = p->next;
        free_pair(p);
    }
}

int bx_keydb_pack(bx_keydbel dbel, char *buf, int length) {
    if (!dbel) return 0;
    brix::keydb_writer out{buf, stream_size(length)};
    bool fits = out.header(dbel->invoice);
    if (fits) {
        bx_keydb_pair stuck = walk(dbel, [&](bx_keydb_pair p) {
            if (!p->key || !p->val || !*p->key) return false;
            return !out.pair(p->key, p->val);
        });
        fits = stuck == nullptr;
    }
    return out.finish(fits);
}

bx_keydbel bx_keydb_unpack(const char *buf, int length) {
    std::string_view invoice;
    bx_keydbel dbel = nullptr;
    const char *why = nullptr;  // what stopped the scan from our side
    // The record is made at the first pair (the header has been read by
    // then), or after the scan for a stream of no pairs.
    auto add = [&](std::string_view key, std::string_view value) {
        if (!dbel && !(dbel = bx_keydb_create_empty(invoice.data()))) {
            why = "bx_keydb_unpack: could not allocate keydbel";
            return false;
        }
        char k[BX_KEYDB_MAXKEY + 1];
        memcpy(k, key.data(), key.size());
        k[key.size()] = '\0';
        if (bx_keydb_put(dbel, k, value.data()) == 1) return true;
        why = "bx_keydb_unpack: could not add to keydbel";
        return false;
    };
    const char *failure = brix::keydb_scan(buf, length, &invoice, add);
    if (failure && !*failure) failure = why;
    if (!failure && !dbel && !(dbel = bx_keydb_create_empty(invoice.data())))
        failure = "bx_keydb_unpack: could not allocate keydbel";
    if (failure) {
        qor_log(QOR_LOG_NONFATAL, failure);
        bx_keydb_destroy(dbel);
        return nullptr;
    }
    return dbel;
}

int bx_keydb_unpack_invoice(const char *buf, int length, char *invoice) {
    Reader in{buf, stream_size(length)};
    std::string_view inv;
    int version = 0;
    Header h = read_header(in, inv, version);
    if (const char *refused = refusal("bx_keydb_unpack_invoice", h, version)) {
        qor_log(QOR_LOG_NONFATAL, refused);
        return -1;
    }
    // An invoice is 8 characters and the caller's buffer holds 9 bytes.
    if (inv.size() > 8) {
        qor_log(QOR_LOG_NONFATAL, "bx_keydb_unpack_invoice: invoice too long.");
        return -1;
    }
    if (!invoice) return -1;
    memcpy(invoice, inv.data(), inv.size());
    invoice[inv.size()] = '\0';
    return 0;
}

void bx_keydb_print(bx_keydbel dbel) {
    if (!dbel) return;
    auto text = [](const char *s) { return s ? s : "[NULL]"; };
    printf("Keydb '%s':\n", text(dbel->invoice));
    walk(dbel, [&](bx_keydb_pair p) {
        printf("  %s: %s\n", text(p->key), text(p->val));
        return false;
    });
}

const char *bx_keydb_iterate(bx_keydbel dbel, bx_keydb_iterfunc iterfunc, void *rock) {
    if (!dbel || !iterfunc) return nullptr;
    bx_keydb_pair hit = walk(dbel, [&](bx_keydb_pair p) { return iterfunc(p->key, p->val, rock) != 0; });
    return hit ? hit->key : nullptr;
}

}  // extern "C"

namespace brix {

const char *keydb_header(const char *buf, size_t size, std::string_view *invoice, size_t *pos) {
    Reader in{buf, size};
    int version = 0;
    Header h = read_header(in, *invoice, version);
    *pos = in.pos;
    return refusal("bx_keydb_unpack", h, version);
}

long long keydb_decimal_text(std::string_view text, long long lo, long long hi) { return read_decimal(text, lo, hi); }

bool keydb_writer::header(std::string_view invoice) {
    Writer w{buf, size, pos};
    bool ok = w.put(kMagic) && w.put(kVersion) && invoice.find('\0') == std::string_view::npos && w.put(invoice);
    pos = w.pos;
    return ok;
}

int keydb_writer::finish(bool fits) {
    Writer w{buf, size, pos};
    if (!fits || !w.put(kTerminator)) {
        qor_log(QOR_LOG_NONFATAL, "bx_keydb_pack: buffer has overflowed.");
        return 0;
    }
    pos = w.pos;
    return static_cast<int>(pos);
}

}  // namespace brix
