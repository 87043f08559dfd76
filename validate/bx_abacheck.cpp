// bx_abacheck: the check digit of nine-digit ABA bank routing numbers.
//
// Called by bx_val_abacheck.  Pure; nothing can fail.
#include "validate/bx_abacheck.h"

#include <cstddef>

namespace {
// The weights of the routing number's digits, repeated from the left.
constexpr int mult_table[3] = {3, 7, 1};
}  // namespace

extern "C" {

int bx_abacheck(const char *s) {
    if (!s) return 0;
    constexpr size_t kDigits = 9;
    size_t n = 0;
    int sum = 0;
    for (; s[n]; n++) {
        if (s[n] < '0' || s[n] > '9') return 0;
        // Past the ninth digit the length test below refuses anyway.
        if (n < kDigits) sum += (s[n] - '0') * mult_table[n % 3];
    }
    return n == kDigits && sum % 10 == 0;
}

}  // extern "C"
