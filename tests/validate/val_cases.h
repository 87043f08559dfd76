// Table-driven validator cases: each case starts from a transaction that
// passes, changes it so that one check fails, and names the validator and
// the answer it must give.
#ifndef BRIX_TESTS_VALIDATE_VAL_CASES_H
#define BRIX_TESTS_VALIDATE_VAL_CASES_H

#include <gtest/gtest.h>

#include <cstring>

#include "session/bx_session.h"
#include "validate/bx_val.h"
#include "xaction/bx_xaction.h"
#include "xaction/bx_xaction_ach.h"
#include "xaction/bx_xaction_check.h"
#include "xaction/bx_xaction_retail.h"

namespace valtest {

using Change = void (*)(bx_xaction);

struct Case {
    const char *what;
    bx_validator validator;
    Change change;            // applied to the passing transaction
    int accepted;             // 1 passes, 0 refused
    const char *text;         // the answer text afterwards
};

// A card transaction that passes every card protocol's checks.
inline void good_card(bx_xaction x) {
    bx_xaction_retail_init(x);
    bx_xaction_setamount(x, 1000);
    bx_xaction_setcardnum(x, "4111 1111 1111 1111");
    bx_xaction_setedate(x, "12/99");
    bx_xaction_retail_setacode(x, "AB1234");
    bx_xaction_setproduct(x, "widgets");
    bx_xaction_setaccname(x, "J SMITH");
}

// A cheque with a cheque number, an amount and good MICR data.
inline void good_check(bx_xaction x) {
    bx_xaction_check_init(x);
    bx_xaction_setamount(x, 1000);
    bx_xaction_setchecknum(x, "1001");
    bx_xaction_settroutnum(x, "011000015");
    bx_xaction_setbankaccnum(x, "12345678");
}

// An ACH debit that passes SWACH.
inline void good_ach(bx_xaction x) {
    bx_xaction_ach_init(x);
    bx_xaction_setamount(x, 1000);
    bx_xaction_settroutnum(x, "011000015");
    bx_xaction_setbankaccnum(x, "12345678");
    bx_xaction_setaccname(x, "J SMITH");
    bx_xaction_setacctype(x, 1);
}

// Runs each case on a fresh transaction and checks that the validator
// answered as told, replaced any earlier answer text where it refuses,
// and left the transaction alone.
template <size_t N>
void run_cases(bx_session s, void (*base)(bx_xaction), const Case (&cases)[N]) {
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        _bx_xaction x;
        memset(&x, 0, sizeof x);
        base(&x);
        if (c.change) c.change(&x);
        _bx_xaction before;
        memcpy(&before, &x, sizeof x);
        strcpy(s->apitext, "text {earlier answer}");
        EXPECT_EQ(c.validator(s, &x) != 0, c.accepted != 0);
        EXPECT_STREQ(s->apitext, c.text);
        EXPECT_EQ(memcmp(&before, &x, sizeof x), 0);
    }
}

}  // namespace valtest

#endif
