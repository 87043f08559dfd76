// fuzz_parsemoney: the amount and tax texts of a script.
//
// Each input, cut at its first zero byte as a script's text is, goes to
// bx_parsemoney and to the reading below, written straight from the form
// "[ws][$][ws]digits[.[dd]][ws]" with its digits kept as text, so that
// overflow is decided on the whole number; both must give the same cents.
// An accepted amount must read back the same from its canonical form.
#include <climits>
#include <cstdio>
#include <string>
#include <string_view>

#include "fuzz/fuzz_util.h"
#include "xaction/bx_parsemoney.h"

namespace {

bool digit(char c) { return c >= '0' && c <= '9'; }
bool white(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

long long expected_cents(std::string_view s) {
    size_t i = 0;
    auto skip_white = [&] {
        while (i < s.size() && white(s[i])) i++;
    };
    skip_white();
    if (i < s.size() && s[i] == '$') {
        i++;
        skip_white();
    }
    size_t start = i;
    while (i < s.size() && digit(s[i])) i++;
    std::string_view units = s.substr(start, i - start);
    if (units.empty()) return -1;
    long long cents = 0;
    if (i < s.size() && s[i] == '.') {
        if (i + 2 < s.size() && digit(s[i + 1]) && digit(s[i + 2])) {
            cents = (s[i + 1] - '0') * 10 + (s[i + 2] - '0');
            i += 3;
        } else {
            i++;
        }
    }
    skip_white();
    if (i != s.size()) return -1;
    while (units.size() > 1 && units[0] == '0') units.remove_prefix(1);
    if (units.size() > 10) return -1;  // beyond any int count of cents
    long long total = std::stoll(std::string(units)) * 100 + cents;
    return total > INT_MAX ? -1 : total;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string text(fuzz::bytes(data, size));
    text.resize(strlen(text.c_str()));
    int cents = bx_parsemoney(text.c_str());
    FUZZ_CHECK(cents == expected_cents(text));
    if (cents >= 0) {
        char canonical[32];
        snprintf(canonical, sizeof canonical, "$%d.%02d", cents / 100, cents % 100);
        FUZZ_CHECK(bx_parsemoney(canonical) == cents);
    }
    return 0;
}
