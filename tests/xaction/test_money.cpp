// The money parser: accepted forms, refusals and the 32-bit limit.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <string>

#include "xaction/bx_parsemoney.h"

namespace {

TEST(ParseMoney, Forms) {
    const struct {
        const char *text;
        int cents;
    } cases[] = {
        // Accepted.
        {"12", 1200},
        {"12.", 1200},
        {"12.34", 1234},
        {"$ 12.34 ", 1234},
        {"$12.34", 1234},
        {" \t$\n 12.34\r\f\v ", 1234},
        {"0", 0},
        {"0.00", 0},
        {"0.05", 5},
        {"007.10", 710},
        {"999999.99", 99999999},
        // Refused.
        {"", -1},
        {"   ", -1},
        {"$", -1},
        {"$ ", -1},
        {".50", -1},
        {"$.50", -1},
        {"12.3", -1},
        {"12.345", -1},
        {"12.3 ", -1},
        {"12..", -1},
        {"1,000", -1},
        {"$1,000.00", -1},
        {"-5", -1},
        {"-1", -1},
        {"+5", -1},
        {"12 34", -1},
        {"12$", -1},
        {"$$12", -1},
        {"12.34.", -1},
        {"12.34x", -1},
        {"1e3", -1},
        {"12\xa0", -1},  // a non-ASCII byte is no white space
        {"\xb9" "2", -1},
    };
    for (const auto &c : cases) EXPECT_EQ(bx_parsemoney(c.text), c.cents) << "'" << c.text << "'";
    EXPECT_EQ(bx_parsemoney(nullptr), -1);
}

TEST(ParseMoney, LimitOfAnIntCountOfCents) {
    const struct {
        const char *text;
        int cents;
    } cases[] = {
        {"21474836.47", INT_MAX},
        {"21474836.48", -1},
        {"21474837", -1},
        {"99999999", -1},
        {"21474836", 2147483600},
        {"21474836.", 2147483600},
        {"4294967296", -1},                      // wraps to 0 in 32 bits
        {"42949673", -1},                        // wraps to a small amount in 32 bits
        {"99999999999999999999999999999.99", -1},
        {"000000000000000000000000000012.34", 1234},  // leading zeros are no size
    };
    for (const auto &c : cases) EXPECT_EQ(bx_parsemoney(c.text), c.cents) << c.text;
}

TEST(ParseMoney, NeverReadsPastTheText) {
    // Each text sits at the very end of its allocation, so a read past
    // its terminator shows up under the address sanitizer.
    for (const char *t : {"12.", "12.3", "$", " ", "1"}) {
        std::string s(t);
        auto buf = std::make_unique<char[]>(s.size() + 1);
        memcpy(buf.get(), s.c_str(), s.size() + 1);
        (void)bx_parsemoney(buf.get());
    }
}

}  // namespace
