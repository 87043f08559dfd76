// bx_argconv: vocabulary tables and the conversions between words and
// codes.  See bx_argconv.h.
#include "session/bx_argconv.h"

#include "support/qor_util.h"

extern "C" {

const char *const retvals[BX_NUM_RETVALS] = {
    "OK", "negative response", "action required", "AVS failure", "not done", "invalid request",
};

const char *const negretvals[BX_NUM_NEGRETVALS] = {
    "OK",          "comm error", "syntax error", "duplicate invoice",
    "bad invoice", "data problem", "OS bug",     "uninitialized",
};

const char *const stati[BX_NUM_STATI] = {
    "none", "new", "auth", "ready", "done", "unauth", "denied", "review", "bad", "unknown",
};

const char *const argtypes[BX_NUM_ARGTYPES] = {
    "end",         "amount",        "cardnum",      "expdate",      "address",
    "zipcode",     "comment",       "type",         "status",       "troutnum",
    "bankaccnum",  "checknum",      "licensenum",   "licensestate", "accountname",
    "accounttype", "product",       "acode",        "tax",          "track1",
    "track2",      "entrysource",   "purchaseorder", "shipzipcode", "encryption",
    "setmerchant", "setcardholder", "cvv2",
};

const char *const reptypes[BX_NUM_REPTYPES] = {"bogus", "server", "upload"};

const char *const cmdtypes[BX_NUM_CMDTYPES] = {
    "initialize", "cancel", "resend", "forcebatch", "receipt", "phonenum",
};

}  // extern "C"

namespace {

// Position of the first entry from `first` equal to `name` ignoring case;
// the position after the table when none is (or there is no word).
template <int N>
int scan(const char *const (&table)[N], const char *name, int first = 0) {
    if (!name) return N;
    for (int i = first; i < N; i++)
        if (qor_util_strcasecmp(table[i], name) == 0) return i;
    return N;
}

constexpr int kQueueNames = 8;    // stati entries 1..8 name the queues
constexpr char kAll[] = "all";

}  // namespace

extern "C" {

const char *bx_ret2str(int code) {
    if (code >= 0 && code < BX_NUM_RETVALS) return retvals[code];
    if (code < 0 && code > -BX_NUM_NEGRETVALS) return negretvals[-code];
    return "unknown";
}

int bx_str2stat(const char *name) {
    if (!name) return BX_STAT_UNKNOWN;
    if (qor_util_strcasecmp(name, kAll) == 0) return BX_STAT_ALL;
    if (qor_util_strcasecmp(name, stati[0]) == 0) return BX_STAT_NONE;
    for (int i = 1; i <= kQueueNames; i++)
        if (qor_util_strcasecmp(stati[i], name) == 0) return 1 << (i - 1);
    return BX_STAT_UNKNOWN;
}

const char *bx_stat2str(int value) {
    if (value < 0) return stati[BX_NUM_STATI - 1];
    if (value == 0) return stati[0];
    // The highest set bit names the queue; everything from bit 7 up is "bad".
    int index = 1;
    for (unsigned v = static_cast<unsigned>(value) >> 1; v != 0 && index < kQueueNames; v >>= 1)
        index++;
    return stati[index];
}

int bx_str2arg(const char *name) { return scan(argtypes, name); }

int bx_str2rep(const char *name) { return scan(reptypes, name, BX_REP_SERVER); }

int bx_str2cmd(const char *name) { return scan(cmdtypes, name); }

}  // extern "C"
