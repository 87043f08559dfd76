// bx_luhn: the Luhn (mod 10) check digit of card numbers.
//
// Called by bx_val_luhn.  Pure; nothing can fail.
#include "validate/bx_luhn.h"

#include <cstring>

extern "C" {

int bx_luhn(const char *s) {
    if (!s) return 0;
    // From the rightmost digit leftwards, every second digit is doubled
    // and brought back to one digit.
    int sum = 0;
    bool doubled = false;
    for (size_t i = strlen(s); i-- > 0;) {
        if (s[i] < '0' || s[i] > '9') continue;
        int d = s[i] - '0';
        if (doubled) {
            d *= 2;
            if (d > 9) d -= 9;
        }
        sum += d;
        doubled = !doubled;
    }
    return sum % 10 == 0;
}

}  // extern "C"
