// bx_etc: bounded filters, the free-text rule and the invoice key rule.
// See bx_etc.h.
#include "xaction/bx_etc.h"

#include <cstring>

#include "support/qor_util.h"

namespace {

bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }
bool is_upper(unsigned char c) { return c >= 'A' && c <= 'Z'; }
bool is_lower(unsigned char c) { return c >= 'a' && c <= 'z'; }
bool is_alnum(unsigned char c) { return is_digit(c) || is_upper(c) || is_lower(c); }

template <typename Keep>
void filter(char *text, int length, bool upcase, Keep keep) {
    char *out = text;
    int kept = 0;
    for (const char *in = text; *in && kept < length; in++) {
        unsigned char c = static_cast<unsigned char>(*in);
        if (!keep(c)) continue;
        *out++ = static_cast<char>(upcase && is_lower(c) ? c - 'a' + 'A' : c);
        kept++;
    }
    *out = '\0';
}

}  // namespace

extern "C" {

int bx_etc_alphanum(char *text, int length) {
    filter(text, length, true, [](unsigned char c) {
        return is_alnum(c) || c == ' ' || c == '-' || c == ',' || c == '.';
    });
    return 0;
}

int bx_etc_numeric(char *text, int length) {
    filter(text, length, false, [](unsigned char c) { return is_digit(c) || c == '.' || c == '-'; });
    return 0;
}

int bx_etc_monetary(char *text, int length) {
    filter(text, length, false,
           [](unsigned char c) { return is_digit(c) || c == '$' || c == '-' || c == '.'; });
    return 0;
}

int bx_etc_plaintext(char *text) {
    char *out = text;
    for (const char *in = text; *in; in++) {
        unsigned char c = static_cast<unsigned char>(*in);
        if (brix::is_control(c) || c == '{' || c == '}') continue;
        *out++ = *in;
    }
    *out = '\0';
    return static_cast<int>(out - text);
}

void bx_invoice_key(const char *text, char key[9]) {
    // The same as filtering a copy with bx_etc_alphanum(copy, 8) and then
    // keeping its letters and digits, without needing the copy.
    int kept = 0, n = 0;
    for (const char *p = text ? text : ""; *p && kept < 8; p++) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (!is_alnum(c) && c != ' ' && c != '-' && c != ',' && c != '.') continue;
        kept++;
        if (is_alnum(c)) key[n++] = static_cast<char>(is_lower(c) ? c - 'a' + 'A' : c);
    }
    while (n < 8) key[n++] = 'X';
    key[8] = '\0';
}

}  // extern "C"
