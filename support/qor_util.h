// qor_util: small text and time helpers shared by every module.
//
// Failure policy: qor_util_strdup reports an allocation failure on
// standard error and returns null; the other helpers cannot fail.
#ifndef BRIX_SUPPORT_QOR_UTIL_H
#define BRIX_SUPPORT_QOR_UTIL_H

#include <stddef.h>
#include <time.h>

#ifdef __cplusplus
extern "C" {
#endif

char *qor_util_strdup(const char *a);
void *qor_util_realloc(void *a, size_t b);
char *qor_util_safestrcpy(char *dest, const char *src);
// Copies at most len bytes, zero-pads to len and writes dest[len] = 0:
// dest must hold len + 1 bytes.
char *qor_util_safestrncpy(char *dest, const char *src, size_t len);
char *qor_util_chop(char *buf);
const char *qor_util_ctimestr(const time_t *date);
int qor_util_strcasecmp(const char *s1, const char *s2);
int qor_util_isnumstr(const char *a);
extern const char *const qor_util_shortmonths[13];

#ifdef __cplusplus
}

// Copies text into a fixed field of N bytes, cut to N - 1 characters.
template <size_t N>
inline void qor_field_set(char (&field)[N], const char *src) {
    qor_util_safestrncpy(field, src, N - 1);
}

#include <string>
#include <string_view>

namespace brix {
// A control character: a byte below 0x20, or 0x7F.
constexpr bool is_control(unsigned char c) { return c < 0x20 || c == 0x7F; }

// Text with its control characters as \xNN, so that it stays on one line
// of a log or a report.
std::string printable(std::string_view text);
}  // namespace brix
#endif

#endif
