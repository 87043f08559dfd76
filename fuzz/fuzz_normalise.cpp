// fuzz_normalise: the in-place text normalisers and the invoice key rule,
// which every script text for a card number, date, ZIP code, amount or
// invoice passes through.
//
// Each input, cut at its first zero byte, goes through each filter in a
// buffer of exactly its length plus the terminator.  The result must be the
// input's characters of the filter's class, in order, cut to the filter's
// limit, and filtering it again must change nothing.  The invoice key must
// be what its rule says: bx_etc_alphanum to 8 characters, then its letters
// and digits, padded with 'X' to 8.
#include <functional>
#include <memory>
#include <string>

#include "fuzz/fuzz_util.h"
#include "xaction/bx_etc.h"
#include "xaction/bx_packdigits.h"

namespace {

bool digit(unsigned char c) { return c >= '0' && c <= '9'; }
bool lower(unsigned char c) { return c >= 'a' && c <= 'z'; }
bool alnum(unsigned char c) { return digit(c) || lower(c) || (c >= 'A' && c <= 'Z'); }
bool white(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

using Filter = std::function<void(char *)>;

// Runs a filter on a copy in an exact-size buffer.
std::string run(const Filter &f, const std::string &in) {
    std::unique_ptr<char[]> buf(new char[in.size() + 1]);
    memcpy(buf.get(), in.c_str(), in.size() + 1);
    f(buf.get());
    return buf.get();
}

// Keeps the characters of a class, up to limit of them, upper-casing when asked.
std::string keep(const std::string &in, bool (*cls)(unsigned char), size_t limit = SIZE_MAX,
                 bool upcase = false) {
    std::string out;
    for (char ch : in) {
        auto c = static_cast<unsigned char>(ch);
        if (out.size() >= limit) break;
        if (cls(c)) out.push_back(upcase && lower(c) ? static_cast<char>(c - 'a' + 'A') : ch);
    }
    return out;
}

void check(const Filter &f, const std::string &in, const std::string &want) {
    std::string got = run(f, in);
    FUZZ_CHECK(got == want);
    FUZZ_CHECK(run(f, got) == got);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string in(fuzz::bytes(data, size));
    in.resize(strlen(in.c_str()));
    // The limit of the bounded filters comes from the input, 0 to 31.
    int limit = size > 0 ? data[0] % 32 : 0;

    check([](char *t) { FUZZ_CHECK(bx_packdigits(t) == static_cast<int>(strlen(t))); }, in,
          keep(in, digit));
    check([](char *t) { FUZZ_CHECK(bx_packalnums(t) == static_cast<int>(strlen(t))); }, in,
          keep(in, alnum));
    check([](char *t) { FUZZ_CHECK(bx_packnonwhite(t) == static_cast<int>(strlen(t))); }, in,
          keep(in, [](unsigned char c) { return !white(c); }));
    {
        size_t b = in.find_first_not_of(" \t\n\v\f\r");
        std::string trimmed = b == std::string::npos ? "" : in.substr(b, in.find_last_not_of(" \t\n\v\f\r") - b + 1);
        check([](char *t) { FUZZ_CHECK(bx_trimnonwhite(t) == static_cast<int>(strlen(t))); }, in,
              trimmed);
    }
    auto alphanum_class = [](unsigned char c) {
        return alnum(c) || c == ' ' || c == '-' || c == ',' || c == '.';
    };
    check([limit](char *t) { bx_etc_alphanum(t, limit); }, in,
          keep(in, alphanum_class, static_cast<size_t>(limit), true));
    check([limit](char *t) { bx_etc_numeric(t, limit); }, in,
          keep(in, [](unsigned char c) { return digit(c) || c == '.' || c == '-'; },
               static_cast<size_t>(limit)));
    check([limit](char *t) { bx_etc_monetary(t, limit); }, in,
          keep(in, [](unsigned char c) { return digit(c) || c == '$' || c == '-' || c == '.'; },
               static_cast<size_t>(limit)));

    std::unique_ptr<char[]> key(new char[9]);
    bx_invoice_key(in.c_str(), key.get());
    std::string want = keep(keep(in, alphanum_class, 8, true), alnum);
    want.resize(8, 'X');
    FUZZ_CHECK(want == key.get());
    return 0;
}
