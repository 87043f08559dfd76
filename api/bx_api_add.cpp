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
    {BX_ARG_AMOUNT, How::money, nullptr, bx_xaction_setamount, "text {could not set amount}",
     BX_FAILED, nullptr},
    {BX_ARG_CARDNUM, How::text, bx_xaction_setcardnum, nullptr, "text {could not set card number}",
     BX_FAILED, nullptr},
    {BX_ARG_EXPDATE, How::text, bx_xaction_setedate, nullptr, "text {could not set exp date}",
     BX_FAILED, nullptr},
    {BX_ARG_ADDRESS, How::text, bx_xaction_retail_setaddr, nullptr,
     "text {could not set AVS address}", BX_FAILED, nullptr},
    {BX_ARG_ZIPCODE, How::text, bx_xaction_retail_setzip, nullptr,
     "text {could not set AVS zip code}", BX_FAILED, nullptr},
    {BX_ARG_COMMENT, How::text, bx_xaction_retail_setcomment, nullptr,
     "text {unable to set comment}", BX_FAILED, nullptr},
    {BX_ARG_TYPE, How::order_type, nullptr, bx_xaction_retail_settype,
     "text {unable to set Mo/To type}", BX_FAILED, "text {invalid type}"},
    {BX_ARG_TROUTNUM, How::text, bx_xaction_settroutnum, nullptr,
     "text {could not set transit/routing number}", BX_FAILED, nullptr},
    {BX_ARG_BANKACCNUM, How::text, bx_xaction_setbankaccnum, nullptr,
     "text {could not set bank account number}", BX_FAILED, nullptr},
    {BX_ARG_CHECKNUM, How::text, bx_xaction_setchecknum, nullptr,
     "text {could not set check number}", BX_FAILED, nullptr},
    {BX_ARG_LICENSENUM, How::text, bx_xaction_check_setlicensenum, nullptr,
     "text {could not set drivers license number}", BX_FAILED, nullptr},
    {BX_ARG_LICENSESTATE, How::state, bx_xaction_check_setlicensestate, nullptr,
     "text {could not set drivers license state}", BX_FAILED,
     "text {unknown drivers license state}"},
    {BX_ARG_ACCOUNTNAME, How::text, bx_xaction_setaccname, nullptr,
     "text {could not set account name}", BX_FAILED, nullptr},
    {BX_ARG_ACCOUNTTYPE, How::account_type, nullptr, bx_xaction_setacctype,
     "text {unable to set bank account type}", BX_FAILED, "text {invalid account type}"},
    {BX_ARG_PRODUCT, How::text, bx_xaction_setproduct, nullptr, "text {could not set product}",
     BX_FAILED, nullptr},
    {BX_ARG_ACODE, How::text, bx_xaction_retail_setacode, nullptr,
     "text {could not set authorization code}", BX_FAILED, nullptr},
    {BX_ARG_TAX, How::money, nullptr, bx_xaction_settax, "text {could not set tax}", BX_FAILED,
     nullptr},
    {BX_ARG_TRACK1, How::text, bx_xaction_settrack1, nullptr, "text {could not set track1 data}",
     BX_FAILED, nullptr},
    {BX_ARG_TRACK2, How::text, bx_xaction_settrack2, nullptr, "text {could not set track2 data}",
     BX_FAILED, nullptr},
    {BX_ARG_ENTRYSOURCE, How::text, bx_xaction_setentrysource, nullptr,
     "text {could not set entry source}", BX_SYNTAX, nullptr},
    {BX_ARG_PURCHASEORDER, How::text, bx_xaction_setpurchaseorder, nullptr,
     "text {could not set purchase order number}", BX_FAILED, nullptr},
    {BX_ARG_SHIPZIPCODE, How::text, bx_xaction_setshipzip, nullptr,
     "text {could not set shipping zip code}", BX_FAILED, nullptr},
    {BX_ARG_ENCRYPTION, How::text, bx_xaction_setencryption, nullptr,
     "text {could not set cardholder-merchant encryption level}", BX_SYNTAX, nullptr},
    {BX_ARG_SETMERCHANT, How::text, bx_xaction_setsetmerchant, nullptr,
     "text {could not set SET merchant certificate}", BX_SYNTAX, nullptr},
    {BX_ARG_SETCARDHOLDER, How::text, bx_xaction_setsetcardholder, nullptr,
     "text {could not set SET cardholder certificate}", BX_SYNTAX, nullptr},
    {BX_ARG_CVV2, How::text, bx_xaction_setcvv2, nullptr, "text {could not set CVV2 value}",
     BX_SYNTAX, nullptr},
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
        return BX_SYNTAX;
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
        int code = -1;
        if (arg->how == How::order_type) {
            if (const bx_ordertype *t = bx_ordertype_named(val)) code = t->rtype;
        } else if (const Word *w = find_word(kAccountTypes, val)) {
            code = w->code;
        }
        if (code < 0) {
            qor_field_set(s->apitext, arg->unknown_word);
            return BX_FAILED;
        }
        ok = arg->int_setter(x, code);
        break;
    }
    case How::state: {
        const char *code = bx_statecode(s, val);
        if (!code) {
            qor_field_set(s->apitext, arg->unknown_word);
            return BX_SYNTAX;
        }
        ok = arg->text_setter(x, code);
        break;
    }
    }
    if (ok) return BX_OK;
    qor_field_set(s->apitext, arg->refused);
    return arg->refused_code;
}

int update(bx_session s, bx_queue q, const char *invoice, int argtype, const char *argval) {
    bx_queue_lock lock(q);
    if (!lock.held()) {
        qor_log_errf(QOR_LOG_NONFATAL, "Unable to lock database to update transaction %s", invoice);
        qor_field_set(s->apitext, "text {unable to lock database}");
        return BX_DATA;
    }
    bx_queue_item item = bx_queue_find_item(q, invoice);
    if (!item && q->lasterr) {
        qor_logf(QOR_LOG_NONFATAL, "Unable to search for transaction %s", invoice);
        qor_field_set(s->apitext, BX_TEXT_UNSEARCHABLE);
        return BX_FAILED;
    }
    if (!item) {
        qor_logf(QOR_LOG_NONFATAL, "Unable to find transaction %s", invoice);
        qor_field_set(s->apitext, "text {unable to find transaction}");
        return BX_DATA;
    }
    _bx_xaction x;
    bool read = bx_api_read(s, q, item, &x, invoice);
    bx_queue_item_close(q, item);
    if (!read) return BX_FAILED;

    int result = apply(s, &x, argtype, argval);
    if (result != BX_OK) return result;
    switch (bx_api_store(q, &x, invoice)) {
    case bx_store::stored:
        return BX_OK;
    case bx_store::unpackable:
        return BX_FAILED;
    case bx_store::unstored:
        break;
    }
    return BX_DATA;
}

}  // namespace

extern "C" {

int bx_add(bx_session vsess, const char *invoice, int argtype, const char *argval) {
    if (!vsess) return BX_UNINIT;
    vsess->apitext[0] = '\0';
    if (!invoice) invoice = "";
    if (!argval) argval = "";
    int status = bx_api_where(vsess, invoice);
    if (status < 0) {
        qor_field_set(vsess->apitext, BX_TEXT_UNSEARCHABLE);
        return BX_FAILED;
    }
    if (status == BX_STAT_NONE) {
        qor_field_set(vsess->apitext, "text {no such transaction}");
        return BX_BADINVOICE;
    }
    if (status != BX_STAT_NEW) {
        qor_field_set(vsess->apitext, "text {not valid for this transaction}");
        return BX_BADINVOICE;
    }
    bx_queue q = bx_api_queue(vsess, BX_STAT_NEW, "bx_add");
    if (!q) {
        qor_field_set(vsess->apitext, "text {unable to lock database}");
        return BX_DATA;
    }
    return update(vsess, q, invoice, argtype, argval);
}

}  // extern "C"
