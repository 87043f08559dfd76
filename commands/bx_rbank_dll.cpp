// bx_rbank_dll: the Royal Bank state records and the card-range table.
//
// The eight syncs are rows of the state record store (bx_dll); the range
// lookup reads the "SERVICES" record first when it has not been loaded.
// Called by the Royal Bank commands (bx_cmd_rbank) and, through the shared
// interface, by the processing daemon's side.
//
// Failure policy: the syncs log as bx_dll_sync does and always return the
// session; the range operations answer null and log nothing.
#include "commands/bx_rbank_dll.h"

#include <cstring>

#include "commands/bx_dll.h"

namespace {

constexpr int kMaxRanges = static_cast<int>(sizeof(_dll_ranges::s) / sizeof(_dll_ranges::s[0]));

bx_session sync(bx_session s, bx_dll_key record) {
    bx_dll_sync(s, record);
    return s;
}

// prefixlow is inclusive and prefixhigh exclusive, both compared with the
// card number's first strlen(prefixlow) characters.
bool covers(const _bx_dll_range &r, const char *cardnum) {
    size_t len = strnlen(r.prefixlow, sizeof r.prefixlow);
    if (strnlen(cardnum, len) < len) return false;
    return strncmp(cardnum, r.prefixlow, len) >= 0 && strncmp(r.prefixhigh, cardnum, len) > 0;
}

}  // namespace

extern "C" {

bx_session bx_rbank_dllsync_initialization(bx_session s) { return sync(s, bx_dll_key::initreqf); }
bx_session bx_rbank_dllsync_initstate(bx_session s) { return sync(s, bx_dll_key::initstat); }
bx_session bx_rbank_dllsync_network(bx_session s) { return sync(s, bx_dll_key::nettimef); }
bx_session bx_rbank_dllsync_timeouts(bx_session s) { return sync(s, bx_dll_key::timeouts); }
bx_session bx_rbank_dllsync_batchnum(bx_session s) { return sync(s, bx_dll_key::batchnum); }
bx_session bx_rbank_dllsync_transnum(bx_session s) { return sync(s, bx_dll_key::transnum); }
bx_session bx_rbank_dllsync_merchant(bx_session s) { return sync(s, bx_dll_key::merchant); }
bx_session bx_rbank_dllsync_ranges(bx_session s) { return sync(s, bx_dll_key::services); }

struct _bx_dll_range *bx_rbank_dll_addrange(bx_session s) {
    if (!s) return nullptr;
    _dll_ranges &t = s->dll.ranges;
    if (t.numranges < 0 || t.numranges >= kMaxRanges) return nullptr;
    _bx_dll_range *r = &t.s[t.numranges++];
    *r = {};
    return r;
}

struct _bx_dll_range *bx_rbank_dll_findrange(bx_session s, const char *cardnum) {
    if (!s || !cardnum) return nullptr;
    _dll_ranges &t = s->dll.ranges;
    if (t.valid == 0) bx_dll_sync(s, bx_dll_key::services);
    int n = t.numranges < 0 ? 0 : (t.numranges > kMaxRanges ? kMaxRanges : t.numranges);
    for (int i = 0; i < n; i++)
        if (covers(t.s[i], cardnum)) return &t.s[i];
    return nullptr;
}

}  // extern "C"
