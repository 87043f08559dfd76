// Secret values of the stored form: which keys are secret, how their
// values are shown, and what blanking a record removes and keeps.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "xaction/bx_xaction.h"
#include "xaction/bx_xaction_keydb.h"
#include "xaction/bx_xaction_retail.h"

namespace {

TEST(Secrets, SensitivityOfKeys) {
    const struct {
        const char *key;
        bx_sensitivity want;
    } cases[] = {
        {"CCNumber", BX_SENSITIVE_LAST_FOUR},   {"ChkBankAccountNumber", BX_SENSITIVE_LAST_FOUR},
        {"ACHBankAccountNumber", BX_SENSITIVE_LAST_FOUR}, {"CVV2Value", BX_SENSITIVE_HIDDEN},
        {"CCTrack1", BX_SENSITIVE_HIDDEN},      {"CCTrack2", BX_SENSITIVE_HIDDEN},
        {"CVV2Status", BX_SENSITIVE_NONE},      {"CVV2ResultCode", BX_SENSITIVE_NONE},
        {"CCExpDate", BX_SENSITIVE_NONE},       {"ACHAccountName", BX_SENSITIVE_NONE},
        {"ccnumber", BX_SENSITIVE_NONE},        {"NoSuchKey", BX_SENSITIVE_NONE},
        {nullptr, BX_SENSITIVE_NONE},
    };
    for (const auto &c : cases)
        EXPECT_EQ(bx_xaction_key_sensitivity(c.key), c.want) << (c.key ? c.key : "(null)");
}

TEST(Secrets, ShownForms) {
    const struct {
        const char *key, *value;
        std::string shown;
    } cases[] = {
        {"CCNumber", "4111111111111111", "************1111"},
        {"CCNumber", "41111", "*1111"},
        {"CCNumber", "1111", "1111"},
        {"ACHBankAccountNumber", "12-34 56", "****4 56"},
        {"CVV2Value", "123", "(hidden)"},
        {"CCTrack1", "%B4111^DOE^2912?", "(hidden)"},
        {"CCTrack2", "", ""},
        {"CCNumber", "", ""},
        {"ProductName", "widget", "widget"},
    };
    for (const auto &c : cases) EXPECT_EQ(brix::xaction_shown(c.key, c.value), c.shown) << c.key;

    // Bounded both ways: the value by its width, the form by the buffer.
    char out[6];
    EXPECT_EQ(bx_xaction_show(BX_SENSITIVE_LAST_FOUR, "123456789", 6, out, sizeof out), 5u);
    EXPECT_STREQ(out, "**345");
    EXPECT_EQ(bx_xaction_show(BX_SENSITIVE_HIDDEN, "1", 1, out, sizeof out), 5u);
    EXPECT_STREQ(out, "(hidd");
    EXPECT_EQ(bx_xaction_show(BX_SENSITIVE_NONE, nullptr, 10, out, sizeof out), 0u);
    EXPECT_STREQ(out, "");
}

TEST(Secrets, BlankingClearsValueAndTracksKeepsTheRest) {
    _bx_xaction x = {};
    ASSERT_EQ(bx_xaction_retail_init(&x), 1);
    ASSERT_EQ(bx_xaction_settrack1(&x, "B4111111111111111^DOE/J^29121010000"), 1);
    ASSERT_EQ(bx_xaction_settrack2(&x, "4111111111111111=29121010000000000000"), 1);
    ASSERT_EQ(bx_xaction_setcvv2(&x, "123"), 1);
    ASSERT_EQ(bx_xaction_setaccname(&x, "J DOE"), 1);
    x.cvv2.code = 'M';
    x.amount = 1234;
    _bx_xaction before = x;

    bx_xaction_blank_secrets(&x);
    // The secret fields are zero to their last byte; everything else is
    // byte for byte as it was.
    const struct {
        char *field;
        const char *was;
        size_t size;
    } secret[] = {{x.cvv2.val, before.cvv2.val, sizeof x.cvv2.val},
                  {x.track1, before.track1, sizeof x.track1},
                  {x.track2, before.track2, sizeof x.track2}};
    for (const auto &f : secret) {
        EXPECT_EQ(std::vector<char>(f.field, f.field + f.size), std::vector<char>(f.size));
        memcpy(f.field, f.was, f.size);
    }
    EXPECT_EQ(memcmp(&x, &before, sizeof x), 0);

    bx_xaction_blank_secrets(nullptr);  // nothing to blank, no fault
}

}  // namespace
