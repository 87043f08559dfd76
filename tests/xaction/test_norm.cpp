// The in-place normalisers and the invoice key rule.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "xaction/bx_etc.h"
#include "xaction/bx_packdigits.h"

namespace {

struct PackCase {
    const char *name;
    int (*pack)(char *);
    std::string in;
    std::string out;
};

TEST(Normalisers, PackFamily) {
    const PackCase cases[] = {
        {"digits", bx_packdigits, "4111-1111 1111 1111", "4111111111111111"},
        {"digits", bx_packdigits, "no digits here", ""},
        {"digits", bx_packdigits, "", ""},
        {"digits", bx_packdigits, "\xb9\xb2" "1\xe9" "2", "12"},  // high bytes are no digits
        {"alnums", bx_packalnums, "K1A 0B1", "K1A0B1"},
        {"alnums", bx_packalnums, "9\xe9" "0210-", "90210"},
        {"alnums", bx_packalnums, "a-Z_0!", "aZ0"},
        {"nonwhite", bx_packnonwhite, " a\tb\nc\vd\fe\rf ", "abcdef"},
        {"nonwhite", bx_packnonwhite, "x\xa0y", "x\xa0y"},  // 0xA0 is no white space here
        {"trim", bx_trimnonwhite, "  a b  ", "a b"},
        {"trim", bx_trimnonwhite, " \t\r\n ", ""},
        {"trim", bx_trimnonwhite, "ab", "ab"},
        {"trim", bx_trimnonwhite, "ab \n", "ab"},
        {"trim", bx_trimnonwhite, "\tab", "ab"},
        {"plaintext", bx_etc_plaintext, "x} status {done", "x status done"},
        {"plaintext", bx_etc_plaintext, "a\r\nb\tc\x1b[2J\x7f" "caf\xc3\xa9 \"q\" \\", "abc[2Jcaf\xc3\xa9 \"q\" \\"},
        {"plaintext", bx_etc_plaintext, "{}\x01", ""},
    };
    for (const auto &c : cases) {
        std::string buf = c.in;
        int n = c.pack(buf.data());
        EXPECT_STREQ(buf.c_str(), c.out.c_str()) << c.name << " of '" << c.in << "'";
        EXPECT_EQ(n, static_cast<int>(c.out.size())) << c.name << " of '" << c.in << "'";
    }
}

struct EtcCase {
    const char *name;
    int (*filter)(char *, int);
    std::string in;
    int length;
    std::string out;
};

TEST(Normalisers, BoundedFilters) {
    const EtcCase cases[] = {
        {"alphanum", bx_etc_alphanum, "ab-c/d 12x", 8, "AB-CD 12"},
        {"alphanum", bx_etc_alphanum, "a,b.c", 25, "A,B.C"},
        {"alphanum", bx_etc_alphanum, "caf\xe9!", 25, "CAF"},
        {"alphanum", bx_etc_alphanum, "abcdefghij", 8, "ABCDEFGH"},
        {"alphanum", bx_etc_alphanum, "abc", 0, ""},
        {"numeric", bx_etc_numeric, "$-12.5a0", 25, "-12.50"},
        {"numeric", bx_etc_numeric, "123456789", 8, "12345678"},
        {"monetary", bx_etc_monetary, "$1,000.00 USD", 25, "$1000.00"},
        {"monetary", bx_etc_monetary, "-$5\xa4", 2, "-$"},
    };
    for (const auto &c : cases) {
        std::string buf = c.in;
        EXPECT_EQ(c.filter(buf.data(), c.length), 0) << c.name;
        EXPECT_STREQ(buf.c_str(), c.out.c_str()) << c.name << " of '" << c.in << "'";
    }
}

TEST(Normalisers, InvoiceKey) {
    const struct {
        const char *in;
        const char *key;
    } cases[] = {
        {"inv-42", "INV42XXX"},
        {"12345678901", "12345678"},
        {"!!!", "XXXXXXXX"},
        {"", "XXXXXXXX"},
        {"ab-c/d 12x", "ABCD12XX"},       // the filter stops at eight kept characters
        {"!!!!!!!!AB", "ABXXXXXX"},       // dropped characters do not count
        {"a b c d e f g h i", "ABCDXXXX"}, // blanks count towards the eight, then go
        {"\xe9t\xe9", "TXXXXXXX"},
        {"INV42XXX", "INV42XXX"},
    };
    for (const auto &c : cases) {
        char key[9];
        memset(key, '#', sizeof key);
        bx_invoice_key(c.in, key);
        EXPECT_STREQ(key, c.key) << c.in;
    }
    char key[9];
    bx_invoice_key(nullptr, key);
    EXPECT_STREQ(key, "XXXXXXXX");
}

}  // namespace
