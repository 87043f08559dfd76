// fuzz_dll: the parsers of the shared processor state records, as the
// globals sync reads them (bx_dll_parse).
//
// The first byte picks the record (byte % 9, in bx_dll_key order), the rest
// is the record's stored bytes.  The session's dll starts from a fixed
// pattern each time; afterwards every text field of the record must still
// be terminated inside its width, the range count must be 0..30, and no
// part of the dll outside the record's own fields, sync states included,
// may have changed.
#include <cstddef>
#include <iterator>
#include <memory>
#include <vector>

#include "commands/bx_dll.h"
#include "fuzz/fuzz_util.h"

namespace {

// The bytes of the dll a record's parser may change, by bx_dll_key.
struct Span {
    size_t offset;
    size_t size;
};
#define SPAN(m) Span{offsetof(_dll, m), sizeof(_dll::m)}
#define SPAN2(m, n) Span{offsetof(_dll, m), offsetof(_dll, n) + sizeof(_dll::n) - offsetof(_dll, m)}
const std::vector<Span> kOwned[] = {
    {SPAN(flags.needs_init), SPAN(flags.needs_init_time)},
    {SPAN2(init_state.access_code, init_state.processing_code)},
    {SPAN(timing_data.active), SPAN(timing_data.upload_time), SPAN(timing_data.last_response_dur)},
    {SPAN(timeouts.enq), SPAN(timeouts.rsp), SPAN(timeouts.eot)},
    {SPAN(counters.batchnum)},
    {SPAN(counters.transnum)},
    {SPAN(merchant.id), SPAN(merchant.name), SPAN(merchant.authallowed),
     SPAN(merchant.returnallowed)},
    {SPAN(ranges.numranges), SPAN(ranges.s)},
    {SPAN(phonenum.primary), SPAN(phonenum.secondary)},
};
#undef SPAN
#undef SPAN2
static_assert(std::size(kOwned) == static_cast<size_t>(bx_dll_key::phonenum) + 1);

template <size_t N>
bool terminated(const char (&field)[N]) {
    return memchr(field, '\0', N) != nullptr;
}

// A fixed pattern with terminated texts, so that every change shows.
void fill(_dll &d) {
    memset(&d, 0x5A, sizeof d);
    d.merchant.id[0] = d.merchant.name[0] = '\0';
    d.phonenum.primary[0] = d.phonenum.secondary[0] = '\0';
    d.ranges.numranges = 0;
    for (auto &r : d.ranges.s) r.servicetype[0] = r.prefixlow[0] = r.prefixhigh[0] = '\0';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    static const std::unique_ptr<_bx_session> s(new _bx_session());
    size_t row = data[0] % std::size(kOwned);
    auto key = static_cast<bx_dll_key>(row);

    fill(s->dll);
    // Byte copies, padding included: the comparison below is bytewise.
    _dll before;
    memcpy(&before, &s->dll, sizeof before);
    // The record is the input's tail, the end of a buffer of exact size.
    bx_dll_parse(s.get(), key, reinterpret_cast<const char *>(data) + 1, size - 1);

    const _dll &d = s->dll;
    FUZZ_CHECK(terminated(d.merchant.id) && terminated(d.merchant.name));
    FUZZ_CHECK(terminated(d.phonenum.primary) && terminated(d.phonenum.secondary));
    FUZZ_CHECK(d.ranges.numranges >= 0 && d.ranges.numranges <= 30);
    for (const auto &r : d.ranges.s)
        FUZZ_CHECK(terminated(r.servicetype) && terminated(r.prefixlow) && terminated(r.prefixhigh));

    // Put the record's own fields back: what remains must be untouched.
    _dll after;
    memcpy(&after, &d, sizeof after);
    for (const Span &sp : kOwned[row])
        memcpy(reinterpret_cast<char *>(&after) + sp.offset,
               reinterpret_cast<const char *>(&before) + sp.offset, sp.size);
    FUZZ_CHECK(memcmp(&after, &before, sizeof after) == 0);
    return 0;
}
