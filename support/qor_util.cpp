// qor_util: text and time helpers.  See qor_util.h.
#include "support/qor_util.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

extern "C" {

const char *const qor_util_shortmonths[13] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul",
                                              "Aug", "Sep", "Oct", "Nov", "Dec", ""};

char *qor_util_strdup(const char *a) {
    if (!a) return nullptr;
    size_t len = strlen(a) + 1;
    char *p = static_cast<char *>(malloc(len));
    if (!p) {
        fprintf(stderr, "malloc failed with len %d (%p:%s)\n", (int)len, (const void *)a, a);
        return nullptr;
    }
    memcpy(p, a, len);
    return p;
}

void *qor_util_realloc(void *a, size_t b) { return a ? realloc(a, b) : malloc(b); }

char *qor_util_safestrcpy(char *dest, const char *src) {
    strcpy(dest, src ? src : "");
    return dest;
}

char *qor_util_safestrncpy(char *dest, const char *src, size_t len) {
    strncpy(dest, src ? src : "", len);
    dest[len] = '\0';
    return dest;
}

char *qor_util_chop(char *buf) {
    char *nl = strchr(buf, '\n');
    if (nl) *nl = '\0';
    return nl;
}

const char *qor_util_ctimestr(const time_t *date) {
    static char buf[64];
    time_t now = date ? *date : time(nullptr);
    char tmp[64];
    if (!ctime_r(&now, tmp)) {
        buf[0] = '\0';
        return buf;
    }
    qor_util_safestrncpy(buf, tmp, sizeof buf - 1);
    qor_util_chop(buf);
    return buf;
}

int qor_util_strcasecmp(const char *s1, const char *s2) { return strcasecmp(s1, s2); }

int qor_util_isnumstr(const char *a) {
    if (!a || !*a) return 0;
    const char *p = a;
    if (*p == '-') p++;
    if (!*p) return 0;
    if (*p == '0' && (p[1] != '\0' || p != a)) return 0;  // no leading zeros, no "-0"
    for (const char *q = p; *q; q++)
        if (*q < '0' || *q > '9') return 0;
    // Must also be the printed form of its own int value.
    if (strlen(p) > 10) return 0;
    long long v = strtoll(a, nullptr, 10);
    return v >= -2147483648LL && v <= 2147483647LL;
}

}  // extern "C"

namespace brix {

std::string printable(std::string_view text) {
    std::string out;
    for (unsigned char ch : text) {
        if (is_control(ch)) {
            char esc[8];
            snprintf(esc, sizeof esc, "\\x%02X", ch);
            out += esc;
        } else {
            out += static_cast<char>(ch);
        }
    }
    return out;
}

}  // namespace brix
