// bx_api_add: bx_add applies one script argument to a transaction in the
// "new" queue and stores the whole record back.
//
// The argument codes are a table: each row names how the text is turned
// into a field (a text setter, money, an order-type or account-type word,
// a licence state) and the answer when the setter refuses.  The "new"
// queue's lock is held from before the look-up until after the store, so
// the read-change-write is atomic against other sessions and the daemon.
//
// Failure policy: argument refusals are answered with their own text and
// not logged; queue and stream failures are logged with the invoice text
// as the caller gave it.  A refused argument stores nothing.
#include "api/bx_api_add.h"

#include <cstring>

#include "api/bx_api_status.h"
#include "api/bx_api_xact.h"
#include "support/qor_log.h"
#include "support/qor_util.h"
#include "xaction/bx_parsemoney.h"
#include "xaction/bx_statecode.h"
#include "xaction/bx_xaction_check.h"
#include "xaction/bx_xaction_retail.h"

namespace {

enum class How {
    text,         // setter(x, text)
    money,        // setter(x, bx_parsemoney(text))
    order_type,   // word -> order type code -> bx_xaction_retail_settype
    account_type, // word -> account type -> bx_xaction_setacctype
    state,        // bx_statecode -> bx_xaction_check_setlicensestate
};

struct Word {
    const char *word;
    int code;
};

const Word kOrderTypes[] = {{"mail", 1},   {"phone", 2},   {"recurring", 3}, {"installment", 4},
                            {"unknown", 5}, {"retail", 6}, {"test", 7},      {"ecommerce", 8}};
const Word kAccountTypes[] = {{"dda", 1}, {"savings", 2}};

struct Argument {
    int code;
    How how;
    int (*text_setter)(bx_xaction, const char *);
    int (*int_setter)(bx_xaction, int);
    const char *refused;      // answer when the setter refuses
    int refused_code;
    const char *unknown_word; // answer for a word outside the table
};

const Argument kArguments[] = {
    {1, How::money, nullptr, bx_xaction_setamount, "text {could not set amount}", 128, nullptr},
    {2, How::text, bx_xaction_setcardnum, nullptr, "text {could not set card number}", 128, nullptr},
    {3, How::text, bx_xaction_setedate, nullptr, "text {could not set exp date}", 128, nullptr},
    {4, How::text, bx_xaction_retail_setaddr, nullptr, "text {could not set AVS address}", 128, nullptr},
    {5, How::text, bx_xaction_retail_setzip, nullptr, "text {could not set AVS zip code}", 128, nullptr},
    {6, How::text, bx_xaction_retail_setcomment, nullptr, "text {unable to set comment}", 128, nullptr},
    {7, How::order_type, nullptr, bx_xaction_retail_settype, "text {unable to set Mo/To type}", 128,
     "text {invalid type}"},
    {9, How::text, bx_xaction_settroutnum, nullptr, "text {could not set transit/routing number}", 128,
     nullptr},
    {10, How::text, bx_xaction_setbankaccnum, nullptr, "text {could not set bank account number}", 128,
     nullptr},
    {11, How::text, bx_xaction_setchecknum, nullptr, "text {could not set check number}", 128, nullptr},
    {12, How::text, bx_xaction_check_setlicensenum, nullptr,
     "text {could not set drivers license number}", 128, nullptr},
    {13, How::state, bx_xaction_check_setlicensestate, nullptr,
     "text {could not set drivers license state}", 128, "text {unknown drivers license state}"},
    {14, How::text, bx_xaction_setaccname, nullptr, "text {could not set account name}", 128, nullptr},
    {15, How::account_type, nullptr, bx_xaction_setacctype, "text {unable to set bank account type}",
     128, "text {invalid account type}"},
    {16, How::text, bx_xaction_setproduct, nullptr, "text {could not set product}", 128, nullptr},
    {17, How::text, bx_xaction_retail_setacode, nullptr, "text {could not set authorization code}", 128,
     nullptr},
    {18, How::money, nullptr, bx_xaction_settax, "text {could not set tax}", 128, nullptr},
    {19, How::text, bx_xaction_settrack1, nullptr, "text {could not set track1 data}", 128, nullptr},
    {20, How::text, bx_xaction_settrack2, nullptr, "text {could not set track2 data}", 128, nullptr},
    {21, How::text, bx_xaction_setentrysource, nullptr, "text {could not set entry source}", -2, nullptr},
    {22, How::text, bx_xaction_setpurchaseorder, nullptr,
     "text {could not set purchase order number}", 128, nullptr},
    {23, How::text, bx_xaction_setshipzip, nullptr, "text {could not set shipping zip code}", 128,
     nullptr},
    {24, How::text, bx_xaction_setencryption, nullptr,
     "text {could not set cardholder-merchant encryption level}", -2, nullptr},
    {25, How::text, bx_xaction_setsetmerchant, nullptr, "text {could not set SET merchant certificate}",
     -2, nullptr},
    {26, How::text, bx_xaction_setsetcardholder, nullptr,
     "text {could not set SET cardholder certificate}", -2, nullptr},
    {27, How::text, bx_xaction_setcvv2, nullptr, "text {could not set CVV2 value}", -2, nullptr},
};

template <size_t N>
const Word *find_word(const Word (&words)[N], const char *text) {
    for (const Word &w : words)
        if (qor_util_strcasecmp(w.word, text) == 0) return &w;
    return nullptr;
}

// Applies the argument to x.  Returns 0, or the refusal code with the
// refusal text in apitext.
int apply(bx_session s, bx_xaction x, int argtype, const char *val) {
    const Argument *arg = nullptr;
    for (const Argument &a : kArguments)
        if (a.code == argtype) arg = &a;
    if (!arg) {
        qor_field_set(s->apitext, "text {unrecognized argument type}");
        return -2;
    }
    int ok = 0;
    switch (arg->how) {
    case How::text:
        ok = arg->text_setter(x, val);
        break;
    case How::money:
        ok = arg->int_setter(x, bx_parsemoney(val));
        break;
    case How::order_type:
    case How::account_type: {
        const Word *w = arg->how == How::order_type ? find_word(kOrderTypes, val)
                                                    : find_word(kAccountTypes, val);
        if (!w) {
            qor_field_set(s->apitext, arg->unknown_word);
            return 128;
        }
        ok = arg->int_setter(x, w->code);
        break;
    }
    case How::state: {
        const char *code = bx_statecode(s, val);
        if (!code) {
            qor_field_set(s->apitext, arg->unknown_word);
            return -2;
        }
        ok = arg->text_setter(x, code);
        break;
    }
    }
    if (ok) return 0;
    qor_field_set(s->apitext, arg->refused);
    return arg->refused_code;
}

int update(bx_session s, bx_queue q, const char *invoice, int argtype, const char *argval) {
    bx_queue_lock lock(q);
    if (!lock.held()) {
        qor_log_errf(QOR_LOG_NONFATAL, "Unable to lock database to update transaction %s", invoice);
        qor_field_set(s->apitext, "text {unable to lock database}");
        return -5;
    }
    bx_queue_item item = bx_queue_find_item(q, invoice);
    if (!item) {
        qor_logf(QOR_LOG_NONFATAL, "Unable to find transaction %s", invoice);
        qor_field_set(s->apitext, "text {unable to find transaction}");
        return -5;
    }
    _bx_xaction x;
    int unpacked = bx_api_fetch(q, item, &x);
    bx_queue_item_close(q, item);
    if (unpacked < 1) {
        qor_logf(QOR_LOG_NONFATAL, "Problem unpacking transaction %s", invoice);
        qor_field_set(s->apitext, "text {unable to unpack transaction}");
        return 128;
    }

    int result = apply(s, &x, argtype, argval);
    if (result != 0) return result;
    switch (bx_api_store(q, &x, invoice)) {
    case bx_store::stored:
        return 0;
    case bx_store::unpackable:
        return 128;
    case bx_store::unstored:
        break;
    }
    return -5;
}

}  // namespace

extern "C" {

int bx_add(bx_session vsess, const char *invoice, int argtype, const char *argval) {
    if (!vsess) return -7;
    vsess->apitext[0] = '\0';
    if (!invoice) invoice = "";
    if (!argval) argval = "";
    int status = bx_status(vsess, invoice);
    if (status == 0) {
        qor_field_set(vsess->apitext, "text {no such transaction}");
        return -4;
    }
    if (status != 1) {
        qor_field_set(vsess->apitext, "text {not valid for this transaction}");
        return -4;
    }
    vsess->apitext[0] = '\0';
    bx_queue q = bx_api_queue(vsess, 1, "bx_add");
    if (!q) {
        qor_field_set(vsess->apitext, "text {unable to lock database}");
        return -5;
    }
    return update(vsess, q, invoice, argtype, argval);
}

}  // extern "C"
