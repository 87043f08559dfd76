// Each clearing protocol's validators: one table per protocol, a case per
// answer in the order the checks run (a case that breaks two checks shows
// which one is asked first), and the slots each setup installs.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "commands/bx_command.h"
#include "tests/brix_fixture.h"
#include "tests/validate/val_cases.h"
#include "validate/bx_val_demc.h"
#include "validate/bx_val_dialdemo.h"
#include "validate/bx_val_etc.h"
#include "validate/bx_val_mapp.h"
#include "validate/bx_val_nash.h"
#include "validate/bx_val_ndc.h"
#include "validate/bx_val_nova.h"
#include "validate/bx_val_rbank.h"
#include "validate/bx_val_scan.h"
#include "validate/bx_val_southp.h"
#include "validate/bx_val_swach.h"
#include "validate/bx_val_telecheck.h"
#include "validate/bx_val_utf.h"
#include "validate/bx_val_vital.h"

using valtest::Case;

namespace {

class Protocol : public testutil::BrixTest {
protected:
    bx_session s = nullptr;
    void on(const char *protocol, const std::string &extra = "") {
        s = open(base_config(protocol) + extra);
        ASSERT_NE(s, nullptr) << bx_initerror;
    }
    void TearDown() override {
        bx_done(s);
        BrixTest::TearDown();
    }
};

// Changes shared by many tables.
void no_card(bx_xaction x) { x->acc.card.num[0] = 0; }
void no_edate(bx_xaction x) { x->acc.card.edate[0] = 0; }
void no_authcode(bx_xaction x) { x->authcode[0] = 0; }
void reversed(bx_xaction x) { bx_xaction_setcode(x, 6); }
void zero(bx_xaction x) { x->amount = 0; }
void negative(bx_xaction x) { x->amount = -100; }
void both_tracks(bx_xaction x) {
    bx_xaction_settrack1(x, "B4111111111111111^DOE/JOHN^9912");
    bx_xaction_settrack2(x, "4111111111111111=9912");
}
void track2_only(bx_xaction x) {
    bx_xaction_settrack2(x, "4111111111111111=9912");
    no_card(x);
    no_edate(x);
}
void test_order(bx_xaction x) {
    bx_xaction_retail_settype(x, 7);
    no_card(x);
    zero(x);
}

TEST_F(Protocol, Etc) {
    on("ETC+");
    const Case cases[] = {
        {"passes", bx_val_etc, nullptr, 1, ""},
        {"card check first", bx_val_etc, [](bx_xaction x) { no_card(x); x->amount = 100000000; }, 0,
         "text {no card number}"},
        {"zero", bx_val_etc, zero, 0, "text {amount must be more than zero}"},
        {"limit", bx_val_etc, [](bx_xaction x) { x->amount = 100000000; }, 0,
         "text {for ETC+ amount cannot exceed 999999.99}"},
    };
    valtest::run_cases(s, valtest::good_card, cases);
}

TEST_F(Protocol, Mapp) {
    on("MAPP");
    const Case cases[] = {
        {"passes", bx_val_mapp, nullptr, 1, ""},
        {"limit first", bx_val_mapp, [](bx_xaction x) { no_card(x); x->amount = 10000000; }, 0,
         "text {for MAPP amount cannot exceed 99999.99}"},
        {"zero", bx_val_mapp, zero, 0, "text {for MAPP amount cannot be less than 0.01}"},
        {"negative", bx_val_mapp, negative, 0, "text {for MAPP amount cannot be less than 0.01}"},
        {"track2 alone", bx_val_mapp, track2_only, 1, ""},
        {"no card", bx_val_mapp, no_card, 0, "text {no card number}"},
        {"bad date", bx_val_mapp, [](bx_xaction x) { strcpy(x->acc.card.edate, "1300"); }, 0,
         "text {invalid expiration date (month)}"},
        {"sale", bx_val_mappsale, nullptr, 1, ""},
        {"sale: base first", bx_val_mappsale, [](bx_xaction x) { zero(x); no_authcode(x); }, 0,
         "text {for MAPP amount cannot be less than 0.01}"},
        {"sale: auth code", bx_val_mappsale, no_authcode, 0, "text {auth code required}"},
        {"reversal of an auth", bx_val_ccsale, nullptr, 0, "text {only valid after auth}"},
        {"reversal of a sale", bx_val_ccsale, [](bx_xaction x) { bx_xaction_setcode(x, 3); }, 1, ""},
    };
    valtest::run_cases(s, valtest::good_card, cases);
}

TEST_F(Protocol, Ndc) {
    on("NDC");
    const Case cases[] = {
        {"auth of zero", bx_val_ndc_auth, zero, 1, ""},
        {"limit", bx_val_ndc_auth, [](bx_xaction x) { x->amount = 10000000; }, 0,
         "text {amount must not be more than 99999.99}"},
        {"track1 alone", bx_val_ndc_auth,
         [](bx_xaction x) { bx_xaction_settrack1(x, "B4^DOE^9912"); no_card(x); }, 1, ""},
        {"track2 alone", bx_val_ndc_auth, track2_only, 1, ""},
        {"no card", bx_val_ndc_auth, no_card, 0, "text {no card number}"},
        {"bad date", bx_val_ndc_auth, [](bx_xaction x) { strcpy(x->acc.card.edate, "99"); }, 0,
         "text {invalid expiration date}"},
        {"sale", bx_val_ndc_sale, nullptr, 1, ""},
        {"sale: auth checks first", bx_val_ndc_sale, [](bx_xaction x) { no_card(x); zero(x); }, 0,
         "text {no card number}"},
        {"sale: zero", bx_val_ndc_sale, [](bx_xaction x) { zero(x); no_authcode(x); }, 0,
         "text {amount must exceed 0}"},
        {"sale: auth code", bx_val_ndc_sale, [](bx_xaction x) { no_authcode(x); reversed(x); }, 0,
         "text {must have an auth code}"},
        {"sale: reversed", bx_val_ndc_sale, reversed, 0, "text {transaction has been reversed}"},
        {"return", bx_val_ndc_return, no_authcode, 1, ""},
        {"return: negative", bx_val_ndc_return, negative, 0, "text {amount must exceed 0}"},
    };
    valtest::run_cases(s, valtest::good_card, cases);
}

TEST_F(Protocol, Vital) {
    on("VITAL");
    const Case cases[] = {
        {"passes", bx_val_vital, nullptr, 1, ""},
        {"negative passes", bx_val_vital, negative, 1, ""},
        {"zero first", bx_val_vital, [](bx_xaction x) { zero(x); both_tracks(x); }, 0,
         "text {amount must be more than zero}"},
        {"both tracks", bx_val_vital, [](bx_xaction x) { both_tracks(x); no_card(x); }, 0,
         "text {cannot have both track1 and track2 data}"},
        {"no date", bx_val_vital, no_edate, 0,
         "text {cardnum and expdate, or track data, are required}"},
        {"bad date", bx_val_vital, [](bx_xaction x) { strcpy(x->acc.card.edate, "1a99"); }, 0,
         "text {invalid expiration date}"},
        {"limit", bx_val_vital, [](bx_xaction x) { x->amount = 10000000; }, 0,
         "text {for VITAL amount cannot exceed 99999.99}"},
        {"sale", bx_val_vital_sale, nullptr, 1, ""},
        {"sale: base first", bx_val_vital_sale, [](bx_xaction x) { no_edate(x); no_authcode(x); }, 0,
         "text {cardnum and expdate, or track data, are required}"},
        {"sale: auth code", bx_val_vital_sale, [](bx_xaction x) { no_authcode(x); reversed(x); }, 0,
         "text {auth code required}"},
        {"sale: reversed", bx_val_vital_sale, reversed, 0,
         "text {you cannot sale a reversed transation}"},
    };
    valtest::run_cases(s, valtest::good_card, cases);
}

TEST_F(Protocol, RoyalBank) {
    on("RBank");
    const Case cases[] = {
        {"passes", bx_val_rbank, nullptr, 1, ""},
        {"zero", bx_val_rbank, [](bx_xaction x) { zero(x); no_card(x); }, 0, "text {amount is invalid}"},
        {"track2 alone", bx_val_rbank, track2_only, 1, ""},
        {"bad number and date pass", bx_val_rbank,
         [](bx_xaction x) { strcpy(x->acc.card.num, "1"); strcpy(x->acc.card.edate, "99"); }, 1, ""},
        {"no date", bx_val_rbank, no_edate, 0, "text {either track2 or cardnum/expdate is required}"},
        {"no card", bx_val_rbank, no_card, 0, "text {either track2 or cardnum/expdate is required}"},
        {"limit", bx_val_rbank, [](bx_xaction x) { x->amount = 1000000000; x->acc.check.product[0] = 0; },
         0, "text {for Royal Bank, amount cannot exceed 9999999.99}"},
        {"product", bx_val_rbank,
         [](bx_xaction x) { x->acc.check.product[0] = 0; x->acc.check.accname[0] = 0; }, 0,
         "text {Royal Bank requires the product name for each transaction}"},
        {"account name", bx_val_rbank, [](bx_xaction x) { x->acc.check.accname[0] = 0; }, 0,
         "text {Royal Bank requires the customer account name for each transaction}"},
        {"sale", bx_val_rbank_sale, nullptr, 1, ""},
        {"sale: auth code", bx_val_rbank_sale, no_authcode, 0, "text {auth code required}"},
        {"void: product too", bx_val_rbank_void, [](bx_xaction x) { x->acc.check.product[0] = 0; }, 0,
         "text {Royal Bank requires the product name for each transaction}"},
        {"void: never submitted", bx_val_rbank_void, no_authcode, 0,
         "text {transaction was never submitted}"},
        {"void: a sale", bx_val_rbank_void, [](bx_xaction x) { bx_xaction_setcode(x, 3); }, 0,
         "text {transaction is not a return}"},
        {"void: a return", bx_val_rbank_void, [](bx_xaction x) { bx_xaction_setcode(x, 2); }, 1, ""},
    };
    valtest::run_cases(s, valtest::good_card, cases);
}

TEST_F(Protocol, Utf) {
    on("UTF", "MerchantIndustry: D123\n");
    const Case cases[] = {
        {"passes", bx_val_utf, nullptr, 1, ""},
        {"negative passes", bx_val_utf, negative, 1, ""},
        {"date form not examined", bx_val_utf, [](bx_xaction x) { strcpy(x->acc.card.edate, "99"); },
         1, ""},
        {"zero", bx_val_utf, zero, 0, "text {amount must be more than zero}"},
        {"both tracks", bx_val_utf, both_tracks, 0, "text {cannot have both track1 and track2 data}"},
        {"no card", bx_val_utf, no_card, 0, "text {cardnum and expdate, or track data, are required}"},
        {"sale", bx_val_utf_sale, nullptr, 1, ""},
        {"sale: auth code", bx_val_utf_sale, [](bx_xaction x) { no_authcode(x); reversed(x); }, 0,
         "text {auth code required}"},
        {"sale: reversed", bx_val_utf_sale, reversed, 0, "text {you cannot sale a reversed transation}"},
        {"reverse a Visa", bx_val_utf_reverse, nullptr, 1, ""},
        {"reverse: card check first", bx_val_utf_reverse, zero, 0,
         "text {amount must be more than zero}"},
        {"reverse a Master Card", bx_val_utf_reverse,
         [](bx_xaction x) { bx_xaction_setcardnum(x, "5555555555554444"); }, 0,
         "text {only Visa transactions can be reversed}"},
    };
    valtest::run_cases(s, valtest::good_card, cases);
    strcpy(s->industry, "5999");
    const Case retail[] = {
        {"merchant before card", bx_val_utf_reverse,
         [](bx_xaction x) { bx_xaction_setcardnum(x, "5555555555554444"); }, 0,
         "text {reversals can only be done in direct marketing}"},
    };
    valtest::run_cases(s, valtest::good_card, retail);
}

TEST_F(Protocol, Nova) {
    on("NOVA-TCP");
    const Case cases[] = {
        {"passes", bx_val_nova, nullptr, 1, ""},
        {"negative passes", bx_val_nova, negative, 1, ""},
        {"zero", bx_val_nova, [](bx_xaction x) { zero(x); no_card(x); }, 0,
         "text {amount must be more than zero}"},
        {"no date", bx_val_nova, no_edate, 0, "text {cardnum and expdate, or track data, are required}"},
        {"sale", bx_val_nova_sale, nullptr, 1, ""},
        {"sale: auth code", bx_val_nova_sale, no_authcode, 0, "text {auth code required}"},
    };
    valtest::run_cases(s, valtest::good_card, cases);
}

TEST_F(Protocol, SouthP) {
    on("SouthP");
    const Case cases[] = {
        {"passes", bx_val_southp, nullptr, 1, ""},
        {"zero", bx_val_southp, zero, 0, "text {amount must be more than zero}"},
        {"limit", bx_val_southp, [](bx_xaction x) { x->amount = 100000000; no_card(x); }, 0,
         "text {amount cannot exceed 999999.99}"},
        {"no card", bx_val_southp, no_card, 0, "text {cardnum and expdate, or track data, are required}"},
        {"bad date", bx_val_southp, [](bx_xaction x) { strcpy(x->acc.card.edate, "0099"); }, 0,
         "text {invalid expiration date (month)}"},
        {"unknown range, Luhn good", bx_val_southp,
         [](bx_xaction x) { bx_xaction_setcardnum(x, "411111111111116"); }, 0,
         "text {cardnum is not in a known range}"},
        {"Luhn", bx_val_southp, [](bx_xaction x) { bx_xaction_setcardnum(x, "4111111111111112"); }, 0,
         "text {invalid card number (by LUHN test)}"},
        {"sale", bx_val_southp_sale, nullptr, 1, ""},
        {"sale: auth code", bx_val_southp_sale, no_authcode, 0, "text {auth code required}"},
        {"sale: reversed", bx_val_southp_sale, reversed, 0,
         "text {you cannot sale a reversed transation}"},
    };
    valtest::run_cases(s, valtest::good_card, cases);
}

TEST_F(Protocol, Nashville) {
    on("Nashville");
    const Case cases[] = {
        {"passes", bx_val_nash, nullptr, 1, ""},
        {"test order without card", bx_val_nash, test_order, 1, ""},
        {"zero", bx_val_nash, zero, 0, "text {amount must be more than zero}"},
        {"limit", bx_val_nash, [](bx_xaction x) { x->amount = 10000000; }, 0,
         "text {amount cannot exceed 99999.99}"},
        {"no date", bx_val_nash, no_edate, 0, "text {cardnum and expdate, or track data, are required}"},
        {"unknown range", bx_val_nash, [](bx_xaction x) { bx_xaction_setcardnum(x, "1234567890123452"); },
         0, "text {cardnum is not in a known range}"},
        {"Luhn", bx_val_nash, [](bx_xaction x) { bx_xaction_setcardnum(x, "4111111111111112"); }, 0,
         "text {invalid card number (by LUHN test)}"},
        {"return", bx_val_nash_return, nullptr, 1, ""},
        {"return: test order", bx_val_nash_return, test_order, 0,
         "text {test transactions cannot be settled}"},
        {"return: base", bx_val_nash_return, no_card, 0,
         "text {cardnum and expdate, or track data, are required}"},
        {"sale", bx_val_nash_sale, nullptr, 1, ""},
        {"sale: test order", bx_val_nash_sale, test_order, 0, "text {test transactions cannot be settled}"},
        {"sale: base", bx_val_nash_sale, [](bx_xaction x) { zero(x); no_authcode(x); }, 0,
         "text {amount must be more than zero}"},
        {"sale: blank auth code", bx_val_nash_sale, [](bx_xaction x) { strcpy(x->authcode, "  "); }, 0,
         "text {auth code required}"},
        {"sale: reversed", bx_val_nash_sale, reversed, 0, "text {you cannot sale a reversed transation}"},
    };
    valtest::run_cases(s, valtest::good_card, cases);
}

TEST_F(Protocol, DialDemo) {
    on("dialdemo");
    const Case cases[] = {
        {"sale", bx_val_dialdemo_sale, nullptr, 1, ""},
        {"sale: card check", bx_val_dialdemo_sale, [](bx_xaction x) { no_card(x); no_authcode(x); }, 0,
         "text {no card number}"},
        {"sale: auth code", bx_val_dialdemo_sale, no_authcode, 0, "text {auth code required}"},
        {"sale: reversed", bx_val_dialdemo_sale, reversed, 0,
         "text {you cannot sale a reversed transation}"},
    };
    valtest::run_cases(s, valtest::good_card, cases);
}

void licence(bx_xaction x) { bx_xaction_check_setlicensenum(x, "D1234567"); }
void no_micr(bx_xaction x) { x->acc.check.troutnum[0] = 0; }
void bad_routing(bx_xaction x) { bx_xaction_settroutnum(x, "011000016"); }

TEST_F(Protocol, Scan) {
    on("SCAN");
    const Case cases[] = {
        {"passes", bx_val_scan, nullptr, 1, ""},
        {"cheque number", bx_val_scan, [](bx_xaction x) { x->acc.check.checknum[0] = 0; zero(x); }, 0,
         "text {missing check sequence number}"},
        {"zero", bx_val_scan, zero, 0, "text {amount missing or zero}"},
        {"limit", bx_val_scan, [](bx_xaction x) { x->amount = 10000000; no_micr(x); }, 0,
         "text {SCAN amount cannot exceed 99999.99}"},
        {"MICR", bx_val_scan, [](bx_xaction x) { x->acc.check.bankaccnum[0] = 0; licence(x); }, 0,
         "text {SCAN requires MICR data}"},
        {"ABA", bx_val_scan, bad_routing, 0, "text {invalid troutnum number (by ABA test)}"},
    };
    valtest::run_cases(s, valtest::good_check, cases);
}

TEST_F(Protocol, TeleCheck) {
    on("TeleCheck");
    const Case cases[] = {
        {"MICR", bx_val_telecheck, nullptr, 1, ""},
        {"licence", bx_val_telecheck, [](bx_xaction x) { no_micr(x); licence(x); }, 1, ""},
        {"cheque number", bx_val_telecheck, [](bx_xaction x) { x->acc.check.checknum[0] = 0; zero(x); },
         0, "text {missing check sequence number}"},
        {"zero", bx_val_telecheck, negative, 0, "text {amount missing or zero}"},
        {"limit", bx_val_telecheck, [](bx_xaction x) { x->amount = 100000000; no_micr(x); }, 0,
         "text {TeleCheck amount cannot exceed 999999.99}"},
        {"neither", bx_val_telecheck, no_micr, 0,
         "text {TeleCheck requires either MICR data or drivers license}"},
        {"bad routing beats licence", bx_val_telecheck, [](bx_xaction x) { bad_routing(x); licence(x); },
         0, "text {invalid troutnum number (by ABA test)}"},
    };
    valtest::run_cases(s, valtest::good_check, cases);
}

TEST_F(Protocol, Demc) {
    on("demc");
    const Case cases[] = {
        {"no upper limit", bx_val_dummycheck, [](bx_xaction x) { x->amount = 2000000000; }, 1, ""},
        {"cheque number", bx_val_dummycheck, [](bx_xaction x) { x->acc.check.checknum[0] = 0; },
         0, "text {missing check sequence number}"},
        {"zero", bx_val_dummycheck, zero, 0, "text {amount missing or zero}"},
        {"neither", bx_val_dummycheck, no_micr, 0,
         "text {check guarantee requires either MICR data or drivers license}"},
        {"licence", bx_val_dummycheck, [](bx_xaction x) { no_micr(x); licence(x); }, 1, ""},
    };
    valtest::run_cases(s, valtest::good_check, cases);
}

TEST_F(Protocol, Swach) {
    on("SWACH", "TransactionCode: 27\n");
    const Case cases[] = {
        {"passes", bx_val_swach, nullptr, 1, ""},
        {"zero", bx_val_swach, [](bx_xaction x) { zero(x); no_micr(x); }, 0,
         "text {amount missing or zero}"},
        {"limit", bx_val_swach, [](bx_xaction x) { x->amount = 100000000; no_micr(x); }, 0,
         "text {SWACH amount cannot exceed 999999.99}"},
        {"routing", bx_val_swach, [](bx_xaction x) { no_micr(x); x->acc.check.bankaccnum[0] = 0; }, 0,
         "text {SWACH requires transit/routing number}"},
        {"account", bx_val_swach, [](bx_xaction x) { x->acc.check.bankaccnum[0] = 0; }, 0,
         "text {SWACH requires bank account number}"},
        {"name", bx_val_swach, [](bx_xaction x) { x->acc.check.accname[0] = 0; }, 0,
         "text {SWACH requires name attached to bank account}"},
        {"type", bx_val_swach, [](bx_xaction x) { bx_xaction_setacctype(x, 0); bx_xaction_setaccname(x, "A,B"); },
         0, "text {SWACH requires bank account type (savings/dda)}"},
        {"comma", bx_val_swach, [](bx_xaction x) { bx_xaction_setaccname(x, "SMITH, \"J\""); }, 0,
         "text {SWACH forbids commas in account name}"},
        {"quote", bx_val_swach, [](bx_xaction x) { bx_xaction_setaccname(x, "J \"JR\" SMITH"); }, 0,
         "text {SWACH forbids double-quotes in account name}"},
        {"ABA", bx_val_swach, bad_routing, 0, "text {invalid troutnum number (by ABA test)}"},
    };
    valtest::run_cases(s, valtest::good_ach, cases);
    for (const char *code : {"", "2"}) {
        strcpy(s->transtype, code);
        const Case config[] = {
            {"transaction code first", bx_val_swach, zero, 0,
             "text {invalid transaction code in config file}"},
        };
        valtest::run_cases(s, valtest::good_ach, config);
    }
}

// Each setup writes its protocol, kind and exactly the slots of its row:
// on a zeroed session an untouched slot stays empty.  Opened through
// bx_init the untouched slots keep bx_val_never, and the three protocols
// with commands put their handler in front of the default one.
TEST_F(Protocol, SetupsInstallTheirRow) {
    const bx_validator N = bx_val_never, C = bx_val_ccard;
    struct Row {
        const char *name;
        int protocol, dbtype;
        bx_validator auth, reverse, sale, ret, void_;
        bool commands;
    } rows[] = {
        {"ETC+", 1, 1, bx_val_etc, nullptr, bx_val_etc, bx_val_etc, nullptr, false},
        {"MAPP", 2, 1, bx_val_mapp, bx_val_ccsale, bx_val_mappsale, bx_val_mapp, nullptr, false},
        {"SCAN", 3, 2, bx_val_scan, N, N, N, N, false},
        {"TeleCheck", 4, 2, bx_val_telecheck, nullptr, nullptr, nullptr, nullptr, false},
        {"demo", 5, 1, C, C, C, C, nullptr, false},
        {"foo", 5, 1, C, C, C, C, nullptr, false},
        {"demc", 5, 2, bx_val_dummycheck, nullptr, nullptr, nullptr, nullptr, false},
        {"VITAL", 6, 1, bx_val_vital, bx_val_vital, bx_val_vital_sale, bx_val_vital, nullptr, false},
        {"SWACH", 7, 3, N, N, bx_val_swach, N, N, false},
        {"RBank", 8, 1, bx_val_rbank, nullptr, bx_val_rbank_sale, bx_val_rbank, bx_val_rbank_void, true},
        {"UTF", 9, 1, bx_val_utf, bx_val_utf_reverse, bx_val_utf_sale, bx_val_utf, nullptr, true},
        {"NOVA", 12, 1, bx_val_nova, nullptr, bx_val_nova_sale, bx_val_nova, nullptr, false},
        {"NOVA-TCP", 12, 1, bx_val_nova, nullptr, bx_val_nova_sale, bx_val_nova, nullptr, false},
        {"NDC", 13, 1, bx_val_ndc_auth, nullptr, bx_val_ndc_sale, bx_val_ndc_return, nullptr, false},
        {"SouthP", 15, 1, bx_val_southp, nullptr, bx_val_southp_sale, bx_val_southp, nullptr, false},
        {"Nashville", 17, 1, bx_val_nash, nullptr, bx_val_nash_sale, bx_val_nash_return, nullptr, true},
        {"dialdemo", 18, 1, C, C, bx_val_dialdemo_sale, C, nullptr, false},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        const bx_validator expect[] = {r.auth, r.reverse, r.sale, r.ret, r.void_};
        auto *bare = static_cast<bx_session>(calloc(1, sizeof(_bx_session)));
        bx_val_protocol_named(r.name)->setup(bare);
        EXPECT_EQ(bare->protocol, r.protocol);
        EXPECT_EQ(bare->dbtype, r.dbtype);
        const bx_validator got[] = {bare->val.bx_auth, bare->val.bx_reverse, bare->val.bx_sale,
                                    bare->val.bx_return, bare->val.bx_void};
        for (int i = 0; i < 5; i++) EXPECT_EQ(got[i], expect[i]) << "slot " << i;
        free(bare);

        on(r.name);
        const bx_validator opened[] = {s->val.bx_auth, s->val.bx_reverse, s->val.bx_sale,
                                       s->val.bx_return, s->val.bx_void};
        for (int i = 0; i < 5; i++) EXPECT_EQ(opened[i], expect[i] ? expect[i] : N) << "slot " << i;
        EXPECT_EQ(s->commandhandler != bx_cmd_defaulthandler, r.commands);
        bx_done(s);
        s = nullptr;
    }
}

}  // namespace
