// bx_dll: the shared processor state records.  See bx_dll.h.
//
// A record is laid out by its writer into a fixed buffer and put into the
// globals queue under its key; reading finds the item by key, copies at
// most BX_DLL_READ_SIZE bytes and hands them to the record's parser.  The
// globals queue's lock is held only around the single find or put; copying
// and parsing happen after it is released.  Numbers are decimal texts
// followed by a zero byte, texts are followed by a zero byte, single bytes
// stand alone; which is which is the record's row in the table below.
#include "commands/bx_dll.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <optional>
#include <string_view>

#include "api/bx_api_xact.h"
#include "queue/bx_queue.h"
#include "support/qor_log.h"

namespace {

// Room for laying a record out: the longest, "SERVICES" with 30 ranges of
// full-width fields, takes 813 bytes.
constexpr size_t kWriteSize = 1024;
constexpr int kMaxRanges = 30;

// Lays one record out, piece after piece.
class Writer {
public:
    void byte(char c) {
        if (len_ < sizeof buf_) buf_[len_++] = c;
    }
    // A text field and its zero byte.  A field without its own zero byte
    // ends at the field's width.
    template <size_t N>
    void text(const char (&field)[N]) {
        size_t n = strnlen(field, N);
        for (size_t i = 0; i < n; i++) byte(field[i]);
        byte('\0');
    }
    // A decimal number and its zero byte.
    void number(long long value) {
        char digits[24];
        int n = snprintf(digits, sizeof digits, "%lld", value);
        for (int i = 0; i < n; i++) byte(digits[i]);
        byte('\0');
    }
    const char *data() const { return buf_; }
    int size() const { return static_cast<int>(len_); }

private:
    char buf_[kWriteSize];
    size_t len_ = 0;
};

// Walks a record's bytes.  Whatever the bytes, nothing past the end is
// read: a field missing its zero byte ends with the data, and a piece that
// is not there at all is none, so its parser leaves the memory value as is.
class Reader {
public:
    Reader(const char *data, size_t size) : data_(data), size_(size) {}
    std::optional<unsigned char> byte() {
        if (at_ >= size_) return std::nullopt;
        return static_cast<unsigned char>(data_[at_++]);
    }
    // The bytes up to the next zero byte (which is passed over) or the end.
    std::optional<std::string_view> field() {
        if (at_ >= size_) return std::nullopt;
        const char *start = data_ + at_;
        const void *nul = memchr(start, '\0', size_ - at_);
        size_t n = nul ? static_cast<size_t>(static_cast<const char *>(nul) - start) : size_ - at_;
        at_ += nul ? n + 1 : n;
        return std::string_view(start, n);
    }

private:
    const char *data_;
    size_t size_;
    size_t at_ = 0;
};

// Decimal conversion of a field as the C library reads a number: leading
// blanks and a sign allowed, digits up to the first other byte, 0 when
// there are none.  Values beyond the range saturate.
long long decimal(std::string_view v) {
    char text[32];
    size_t n = std::min(v.size(), sizeof text - 1);
    memcpy(text, v.data(), n);
    text[n] = '\0';
    return strtoll(text, nullptr, 10);
}

int decimal_int(std::string_view v) {
    return static_cast<int>(std::clamp<long long>(decimal(v), INT_MIN, INT_MAX));
}

// Copies a field into a fixed text of N bytes: at most N - 1 bytes, the
// rest zero-filled.
template <size_t N>
void copy(char (&dest)[N], std::string_view v) {
    size_t n = std::min(v.size(), N - 1);
    memcpy(dest, v.data(), n);
    memset(dest + n, 0, N - n);
}

// One state record: where it lives, its sync state, its bytes.
struct Record {
    const char *key;                 // item key in the globals queue, 8 upper-case letters
    const char *op;                  // the sync operation's name, for the log
    int &(*state)(_dll &);           // the record's sync state field
    void (*write)(const _dll &, Writer &);
    void (*parse)(_dll &, Reader &);
};

// In the order of bx_dll_key.
const Record kRecords[] = {
    {"INITREQF", "bx_rbank_dllsync_initialization",
     [](_dll &d) -> int & { return d.flags.needs_init_valid; },
     // needs_init as one digit, 0, needs_init_time, 0
     [](const _dll &d, Writer &w) {
         w.byte(static_cast<char>('0' + d.flags.needs_init));
         w.byte('\0');
         w.number(d.flags.needs_init_time);
     },
     [](_dll &d, Reader &r) {
         if (auto c = r.byte()) d.flags.needs_init = *c - '0';
         r.byte();
         if (auto f = r.field()) d.flags.needs_init_time = static_cast<time_t>(decimal(*f));
     }},
    {"INITSTAT", "bx_rbank_dllsync_initstate",
     [](_dll &d) -> int & { return d.init_state.valid; },
     // access code byte, processing code byte; no terminator
     [](const _dll &d, Writer &w) {
         w.byte(d.init_state.access_code);
         w.byte(d.init_state.processing_code);
     },
     [](_dll &d, Reader &r) {
         if (auto c = r.byte()) d.init_state.access_code = static_cast<char>(*c);
         if (auto c = r.byte()) d.init_state.processing_code = static_cast<char>(*c);
     }},
    {"NETTIMEF", "bx_rbank_dllsync_network",
     [](_dll &d) -> int & { return d.timing_data.valid; },
     // active "1"/"0" directly followed by upload_time, 0, last_response_dur, 0
     [](const _dll &d, Writer &w) {
         w.byte(d.timing_data.active ? '1' : '0');
         w.number(d.timing_data.upload_time);
         w.number(d.timing_data.last_response_dur);
     },
     [](_dll &d, Reader &r) {
         if (auto c = r.byte()) d.timing_data.active = *c != '0';
         if (auto f = r.field()) d.timing_data.upload_time = static_cast<time_t>(decimal(*f));
         if (auto f = r.field()) d.timing_data.last_response_dur = static_cast<time_t>(decimal(*f));
     }},
    {"TIMEOUTS", "bx_rbank_dllsync_timeouts",
     [](_dll &d) -> int & { return d.timeouts.valid; },
     // enq, 0, rsp, 0, eot, 0
     [](const _dll &d, Writer &w) {
         w.number(d.timeouts.enq);
         w.number(d.timeouts.rsp);
         w.number(d.timeouts.eot);
     },
     [](_dll &d, Reader &r) {
         for (int *t : {&d.timeouts.enq, &d.timeouts.rsp, &d.timeouts.eot})
             if (auto f = r.field()) *t = decimal_int(*f);
     }},
    {"BATCHNUM", "bx_rbank_dllsync_batchnum",
     [](_dll &d) -> int & { return d.counters.batchvalid; },
     [](const _dll &d, Writer &w) { w.number(d.counters.batchnum); },
     [](_dll &d, Reader &r) {
         if (auto f = r.field()) d.counters.batchnum = decimal_int(*f);
     }},
    {"TRANSNUM", "bx_rbank_dllsync_transnum",
     [](_dll &d) -> int & { return d.counters.transvalid; },
     [](const _dll &d, Writer &w) { w.number(d.counters.transnum); },
     [](_dll &d, Reader &r) {
         if (auto f = r.field()) d.counters.transnum = decimal_int(*f);
     }},
    {"MERCHANT", "bx_rbank_dllsync_merchant",
     [](_dll &d) -> int & { return d.merchant.valid; },
     // id, 0, name, 0, authallowed "1"/"0", returnallowed "1"/"0"; no terminator
     [](const _dll &d, Writer &w) {
         w.text(d.merchant.id);
         w.text(d.merchant.name);
         w.byte(d.merchant.authallowed ? '1' : '0');
         w.byte(d.merchant.returnallowed ? '1' : '0');
     },
     [](_dll &d, Reader &r) {
         if (auto f = r.field()) copy(d.merchant.id, *f);
         if (auto f = r.field()) copy(d.merchant.name, *f);
         if (auto c = r.byte()) d.merchant.authallowed = *c != '0';
         if (auto c = r.byte()) d.merchant.returnallowed = *c != '0';
     }},
    {"SERVICES", "bx_rbank_dllsync_ranges",
     [](_dll &d) -> int & { return d.ranges.valid; },
     // numranges, 0, then per range servicetype, 0, prefixlow, 0, prefixhigh, 0
     [](const _dll &d, Writer &w) {
         int n = std::clamp(d.ranges.numranges, 0, kMaxRanges);
         w.number(n);
         for (int i = 0; i < n; i++) {
             w.text(d.ranges.s[i].servicetype);
             w.text(d.ranges.s[i].prefixlow);
             w.text(d.ranges.s[i].prefixhigh);
         }
     },
     // At most 30 ranges are taken, and only those whose three fields are
     // all there: numranges counts what was taken.
     [](_dll &d, Reader &r) {
         auto count = r.field();
         if (!count) return;
         int wanted = static_cast<int>(std::clamp<long long>(decimal(*count), 0, kMaxRanges));
         int taken = 0;
         for (; taken < wanted; taken++) {
             auto type = r.field(), low = r.field(), high = r.field();
             if (!high) break;
             _bx_dll_range &range = d.ranges.s[taken];
             copy(range.servicetype, *type);
             copy(range.prefixlow, *low);
             copy(range.prefixhigh, *high);
         }
         d.ranges.numranges = taken;
     }},
    {"PHONENUM", "bx_nash_dllsync_phonenum",
     [](_dll &d) -> int & { return d.phonenum.valid; },
     // primary, 0, secondary, 0
     [](const _dll &d, Writer &w) {
         w.text(d.phonenum.primary);
         w.text(d.phonenum.secondary);
     },
     [](_dll &d, Reader &r) {
         if (auto f = r.field()) copy(d.phonenum.primary, *f);
         if (auto f = r.field()) copy(d.phonenum.secondary, *f);
     }},
};
static_assert(std::size(kRecords) == static_cast<size_t>(bx_dll_key::phonenum) + 1,
              "one row per state record");

enum { kRead = 0, kInStep = 1, kWrite = 2 };

bool write_record(bx_session s, const Record &rec) {
    Writer w;
    rec.write(s->dll, w);
    bx_queue_lock lock(s->globals);
    if (!lock.held()) {
        qor_log_errf(QOR_LOG_NONFATAL, "%s: unable to lock queue 'globals'", rec.op);
        return false;
    }
    bool stored = bx_queue_put(s->globals, w.data(), w.size(), rec.key) >= 1;
    lock.release();
    rec.state(s->dll) = kInStep;
    return stored;
}

bool read_record(bx_session s, const Record &rec) {
    bx_queue_item item;
    {
        bx_queue_lock lock(s->globals);
        if (!lock.held()) {
            qor_log_errf(QOR_LOG_NONFATAL, "%s: unable to lock queue 'globals'", rec.op);
            return false;
        }
        item = bx_queue_find_item(s->globals, rec.key);
    }
    if (!item && s->globals->lasterr) {
        qor_logf(QOR_LOG_NONFATAL, "%s: queue 'globals' cannot be read", rec.op);
        return false;
    }
    if (item) {
        char buf[BX_DLL_READ_SIZE];
        int n = bx_queue_retrieve(s->globals, item, buf, sizeof buf);
        bx_queue_item_close(s->globals, item);
        if (n > 0) {
            Reader r(buf, static_cast<size_t>(n));
            rec.parse(s->dll, r);
        }
    }
    rec.state(s->dll) = kInStep;
    return true;
}

}  // namespace

void bx_dll_parse(bx_session s, bx_dll_key record, const char *data, size_t size) {
    size_t row = static_cast<size_t>(record);
    if (!s || row >= std::size(kRecords) || (!data && size > 0)) return;
    Reader r(data, size);
    kRecords[row].parse(s->dll, r);
}

bool bx_dll_sync(bx_session s, bx_dll_key record) {
    if (!s) return false;
    const Record &rec = kRecords[static_cast<size_t>(record)];
    int state = rec.state(s->dll);
    if (state != kRead && state != kWrite) {
        rec.state(s->dll) = kInStep;
        return true;
    }
    if (!s->globals) {
        qor_logf(QOR_LOG_NONFATAL, "%s: queue 'globals' is not open", rec.op);
        return false;
    }
    return state == kWrite ? write_record(s, rec) : read_record(s, rec);
}
