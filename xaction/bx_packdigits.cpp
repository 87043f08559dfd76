// bx_packdigits: class-keeping normalisers.  See bx_packdigits.h.
#include "xaction/bx_packdigits.h"

#include <cstring>

namespace {

// C-locale classes, byte-exact whatever the process locale is.
bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }
bool is_alnum(unsigned char c) {
    return is_digit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool is_white(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

template <typename Keep>
int pack(char *text, Keep keep) {
    char *out = text;
    for (const char *in = text; *in; in++)
        if (keep(static_cast<unsigned char>(*in))) *out++ = *in;
    *out = '\0';
    return static_cast<int>(out - text);
}

}  // namespace

extern "C" {

int bx_packdigits(char *text) { return pack(text, is_digit); }
int bx_packalnums(char *text) { return pack(text, is_alnum); }
int bx_packnonwhite(char *text) {
    return pack(text, [](unsigned char c) { return !is_white(c); });
}

int bx_trimnonwhite(char *text) {
    size_t len = strlen(text);
    while (len > 0 && is_white(static_cast<unsigned char>(text[len - 1]))) len--;
    text[len] = '\0';
    size_t lead = 0;
    while (lead < len && is_white(static_cast<unsigned char>(text[lead]))) lead++;
    if (lead == 0) return static_cast<int>(len);
    memmove(text, text + lead, len - lead + 1);
    return static_cast<int>(len - lead);
}

}  // extern "C"
