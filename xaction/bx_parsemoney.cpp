// bx_parsemoney: the money text of amounts and taxes.
//
// bx_add (api) reads the script's amount and tax texts here.  The form is
// deliberately narrow: optional blanks, an optional '$', blanks, a whole
// number of units, optionally a point with exactly two digits of cents
// (or a bare point), and trailing blanks.  No sign, no thousands
// separator, no rounding: "12.3" and "12.345" are not amounts.
//
// Failure policy: anything else, and any value that does not fit an int
// count of cents, gives -1; nothing is logged.
#include "xaction/bx_parsemoney.h"

#include <climits>

namespace {

// C-locale classes, whatever the process locale is.
bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }
bool is_white(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

const unsigned char *skip_white(const unsigned char *p) {
    while (is_white(*p)) p++;
    return p;
}

}  // namespace

extern "C" int bx_parsemoney(const char *ms) {
    if (!ms) return -1;
    const unsigned char *p = skip_white(reinterpret_cast<const unsigned char *>(ms));
    if (*p == '$') p = skip_white(p + 1);
    if (!is_digit(*p)) return -1;  // so ".50" and "$.50" are refused too

    // Whole units, held in 64 bits and capped so that no digit run can
    // overflow; anything above the cap is refused below.
    constexpr long long kCap = static_cast<long long>(INT_MAX);
    long long units = 0;
    for (; is_digit(*p); p++)
        if (units <= kCap) units = units * 10 + (*p - '0');

    long long cents = 0;
    if (*p == '.') {
        if (is_digit(p[1]) && is_digit(p[2])) {
            cents = (p[1] - '0') * 10 + (p[2] - '0');
            p += 3;
        } else {
            p++;
        }
    }
    if (*skip_white(p) != '\0') return -1;

    long long total = units * 100 + cents;  // units <= ~2^35, no overflow
    if (total > kCap) return -1;
    return static_cast<int>(total);
}
