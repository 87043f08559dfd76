// The common validators, the Luhn and ABA check digits and the card issuer
// and category classification.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/brix_fixture.h"
#include "tests/validate/val_cases.h"
#include "validate/bx_abacheck.h"
#include "validate/bx_luhn.h"
#include "validate/bx_util_issuer.h"

using valtest::Case;

namespace {

class CommonValidators : public testutil::BrixTest {};

void edate(bx_xaction x, const char *d) { strcpy(x->acc.card.edate, d); }

TEST_F(CommonValidators, AnswerEachCheckInOrder) {
    bx_session s = open(base_config());
    ASSERT_NE(s, nullptr);
    const char *earlier = "text {earlier answer}";
    const Case card[] = {
        {"cardnum passes, text left", bx_val_cardnum, nullptr, 1, earlier},
        {"cardnum", bx_val_cardnum, [](bx_xaction x) { x->acc.card.num[0] = 0; }, 0,
         "text {no card number}"},
        {"track1", bx_val_track1, nullptr, 0, "text {no track1 data}"},
        {"track1 passes", bx_val_track1, [](bx_xaction x) { bx_xaction_settrack1(x, "B4^A^9912"); },
         1, earlier},
        {"track2", bx_val_track2, nullptr, 0, "text {no track2 data}"},
        {"track2 passes", bx_val_track2, [](bx_xaction x) { bx_xaction_settrack2(x, "4=9912"); }, 1,
         earlier},
        {"1299", bx_val_expdate, nullptr, 1, ""},
        {"0100", bx_val_expdate, [](bx_xaction x) { edate(x, "0100"); }, 1, ""},
        {"0005", bx_val_expdate, [](bx_xaction x) { edate(x, "0005"); }, 0,
         "text {invalid expiration date (month)}"},
        {"1305", bx_val_expdate, [](bx_xaction x) { edate(x, "1305"); }, 0,
         "text {invalid expiration date (month)}"},
        {"125", bx_val_expdate, [](bx_xaction x) { edate(x, "125"); }, 0,
         "text {invalid expiration date}"},
        {"12/9", bx_val_expdate, [](bx_xaction x) { edate(x, "12/9"); }, 0,
         "text {invalid expiration date}"},
        {"no date", bx_val_expdate, [](bx_xaction x) { edate(x, ""); }, 0,
         "text {invalid expiration date}"},
        {"luhn", bx_val_luhn, nullptr, 1, ""},
        {"luhn fails", bx_val_luhn, [](bx_xaction x) { bx_xaction_setcardnum(x, "4111111111111112"); },
         0, "text {invalid card number (by LUHN test)}"},
        {"ccard", bx_val_ccard, nullptr, 1, ""},
        {"ccard: number before date", bx_val_ccard,
         [](bx_xaction x) { x->acc.card.num[0] = 0; edate(x, "13"); }, 0, "text {no card number}"},
        {"ccard: date", bx_val_ccard, [](bx_xaction x) { edate(x, "1399"); }, 0,
         "text {invalid expiration date (month)}"},
        {"ccard: amount 0", bx_val_ccard, [](bx_xaction x) { x->amount = 0; }, 0,
         "text {amount must be more than zero}"},
        {"ccard: negative", bx_val_ccard, [](bx_xaction x) { x->amount = -5; }, 0,
         "text {amount must be more than zero}"},
        {"ccsale: not a sale", bx_val_ccsale, nullptr, 0, "text {only valid after auth}"},
        {"ccsale: card first", bx_val_ccsale, [](bx_xaction x) { x->amount = 0; }, 0,
         "text {amount must be more than zero}"},
        {"ccsale", bx_val_ccsale, [](bx_xaction x) { bx_xaction_setcode(x, 3); }, 1, ""},
        {"always", bx_val_always, [](bx_xaction x) { x->acc.card.num[0] = 0; }, 1, earlier},
        {"never", bx_val_never, nullptr, 0, "text {invalid operation for this protocol}"},
    };
    valtest::run_cases(s, valtest::good_card, card);
    const Case check[] = {
        {"aba", bx_val_abacheck, nullptr, 1, ""},
        {"aba fails", bx_val_abacheck, [](bx_xaction x) { bx_xaction_settroutnum(x, "011000016"); },
         0, "text {invalid troutnum number (by ABA test)}"},
    };
    valtest::run_cases(s, valtest::good_check, check);
    bx_done(s);
}

TEST(CheckDigits, LuhnAndAba) {
    struct {
        const char *text;
        int luhn, aba;
    } cases[] = {
        {"4111111111111111", 1, 0},    {"4111 1111 1111 1111", 1, 0}, {"4111-1111-1111-1111", 1, 0},
        {"4111111111111112", 0, 0},    {"79927398713", 1, 0},         {"", 1, 0},
        {"----", 1, 0},                {"011000015", 1, 1},           {"021000021", 1, 1},
        {"011000016", 0, 0},           {"00000000", 1, 0},            {"0000000000", 1, 0},
        {"011 000015", 1, 0},          {"011-00001", 0, 0},           {"0110000150", 0, 0},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(bx_luhn(c.text), c.luhn) << c.text;
        EXPECT_EQ(bx_abacheck(c.text), c.aba) << c.text;
    }
    EXPECT_EQ(bx_luhn(nullptr), 0);
    EXPECT_EQ(bx_abacheck(nullptr), 0);
}

TEST(Issuer, TablesAndClassification) {
    const char *names[] = {"bad",      "VISA",    "Master Card", "American Express", "Diners Club",
                           "Discover", "enRoute", "JCB",         "Carte Blanche",    "unknown"};
    const char *shortnames[] = {"BAD", "VISA", "MC",  "AMEX", "DC",
                                "DISCOVER", "ENROUTE", "JCB", "CB", "UNKNOWN"};
    for (int i = 0; i < 10; i++) {
        EXPECT_STREQ(bx_ctype_name[i], names[i]);
        EXPECT_STREQ(bx_ctype_shortname[i], shortnames[i]);
    }
    EXPECT_STREQ(bx_ctype_rx[1], "^4(.{12}|.{15})$");
    EXPECT_STREQ(bx_ctype_rx[9], ".");
    const char *catnames[] = {"normal", "purchase", "business", "corporate"};
    for (int i = 0; i < 4; i++) EXPECT_STREQ(bx_ctype_catname[i], catnames[i]);

    struct {
        const char *card;
        int issuer, category;
    } cases[] = {
        {"4111111111111111", 1, 0},         {"4222222222222", 1, 0},
        {"411111111111116", 9, 0},          {"5555555555554444", 2, 1},
        {"5600000000000000", 9, 0},         {"378282246310005", 3, 0},
        {"340000000000009", 3, 0},          {"30000000000004", 4, 0},
        {"36000000000000", 4, 0},           {"38800000000000", 4, 0},
        {"38900000000007", 8, 0},           {"39300000000000", 8, 0},
        {"6011000000000004", 5, 0},         {"6011000000000000004", 5, 0},
        {"201400000000009", 6, 0},          {"2014000000000000", 9, 0},
        {"214900000000000", 6, 0},          {"3528000000000007", 7, 0},
        {"3083000000000000", 7, 0},         {"3330000000000000", 9, 0},
        {";4111111111111111=0512101", 1, 0}, {"B4111111111111111^DOE/JOHN^0512", 1, 0},
        {"4111-1111-1111-1111", 1, 0},      {"", 0, 0},
        {"abc-", 0, 0},                     {nullptr, 0, 0},
        {"5405000000000000", 2, 1},         {"5472060000000002", 2, 2},
        {"4055010000000000", 1, 1},         {"4055010000000", 1, 1},
        {"5580000000000000", 2, 2},         {"5472050000000000", 2, 0},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(bx_util_issuer(c.card), c.issuer) << (c.card ? c.card : "null");
        EXPECT_EQ(bx_util_issuercategory(c.card), c.category) << (c.card ? c.card : "null");
    }
}

}  // namespace
