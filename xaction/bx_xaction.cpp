// bx_xaction: record life and the setters that serve every kind.
//
// bx_new and bx_add (api) make and fill records through these calls; the
// stream form (bx_xaction_keydb) only reads the fields.  Every setter
// applies its own acceptance rule and cuts its text to the field's width.
//
// Failure policy: setters return 1 (stored, or not applicable to the
// record's kind) or 0 (refused, null record or text, or no memory for the
// working copy) and never log; a refused value leaves the field as it was.
#include "xaction/bx_xaction.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "support/qor_util.h"
#include "xaction/bx_packdigits.h"

namespace {

constexpr int kMinCents = 1;
constexpr int kMaxCents = 99999999;

bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }

// Does the record's kind take this field?
bool kind_is(const _bx_xaction *x, int a, int b = -1) { return x->dbtype == a || x->dbtype == b; }

// A script word and the value it selects.
struct WordValue {
    const char *word;
    int value;
};

constexpr WordValue kEntrySources[] = {{"customer", 2}, {"merchant", 1}};
constexpr WordValue kEncryptions[] = {{"no", 0}, {"yes", 1}};

// CVV2 words that carry no value.
constexpr WordValue kCvv2Words[] = {{"", 0}, {"none", 1}, {"illegible", 3}, {"notprinted", 4}};

template <size_t N>
const WordValue *find_word(const WordValue (&words)[N], const char *text) {
    for (const auto &w : words)
        if (qor_util_strcasecmp(w.word, text) == 0) return &w;
    return nullptr;
}

template <size_t N>
int set_word(int &field, const WordValue (&words)[N], const char *text) {
    const WordValue *w = find_word(words, text);
    if (!w) return 0;
    field = w->value;
    return 1;
}

// Keeps the digits of the whole text; the field's width cuts the rest.
template <size_t N>
int set_digits(char (&field)[N], const char *text) {
    return brix::xaction_store_filtered(field, text, SIZE_MAX, bx_packdigits);
}

// Track data: copies a run of at most 19 digits into the card number and
// returns where the run stopped.
const char *take_card_number(_bx_xaction *x, const char *p) {
    char num[sizeof x->acc.card.num] = {};
    size_t n = 0;
    while (n < sizeof num - 1 && is_digit(static_cast<unsigned char>(*p))) num[n++] = *p++;
    qor_field_set(x->acc.card.num, num);
    return p;
}

// Track data: the four characters at p are the expiry as YYMM; they are
// stored as MMYY.  A track that ends sooner leaves no expiry at all.
void take_expiry(_bx_xaction *x, const char *p) {
    if (strnlen(p, 4) < 4) {
        qor_field_set(x->acc.card.edate, "");
        return;
    }
    const char mmyy[5] = {p[2], p[3], p[0], p[1], '\0'};
    qor_field_set(x->acc.card.edate, mmyy);
}

}  // namespace

extern "C" {

bx_xaction bx_xaction_create(void) {
    return static_cast<bx_xaction>(calloc(1, sizeof(_bx_xaction)));
}

void bx_xaction_destroy(bx_xaction xaction) { free(xaction); }

int bx_xaction_setprotocol(bx_xaction x, int pflag, int ptype) {
    if (!x) return 0;
    x->subtype.pflag = pflag;
    x->subtype.ptype = ptype;
    return 1;
}

int bx_xaction_settype(bx_xaction xaction, int type) {
    if (!xaction) return 0;
    xaction->subtype.type = type;
    return 1;
}

int bx_xaction_setcode(bx_xaction xaction, int code) {
    if (!xaction) return 0;
    xaction->subtype.code = code;
    return 1;
}

int bx_xaction_setamount(bx_xaction xact, int amnt) {
    if (!xact || amnt < kMinCents || amnt > kMaxCents) return 0;
    xact->amount = amnt;
    return 1;
}

int bx_xaction_settax(bx_xaction xact, int tax) {
    if (!xact || tax < kMinCents || tax > kMaxCents) return 0;
    xact->tax = tax;
    return 1;
}

int bx_xaction_setcardnum(bx_xaction xact, const char *cardnum) {
    if (!xact) return 0;
    if (!kind_is(xact, BX_DBTYPE_CARD)) return 1;
    if (!cardnum) return 0;
    return set_digits(xact->acc.card.num, cardnum);
}

int bx_xaction_setedate(bx_xaction xact, const char *edate) {
    if (!xact) return 0;
    if (!kind_is(xact, BX_DBTYPE_CARD)) return 1;
    if (!edate) return 0;
    // Only the digits count, so "12/05" is the expiry 1205.
    char digits[sizeof xact->acc.card.edate] = {};
    size_t n = 0;
    for (const char *p = edate; *p; p++) {
        if (!is_digit(static_cast<unsigned char>(*p))) continue;
        if (n == sizeof digits - 1) return 0;  // a fifth digit
        digits[n++] = *p;
    }
    if (n != sizeof digits - 1) return 0;
    qor_field_set(xact->acc.card.edate, digits);
    return 1;
}

int bx_xaction_settroutnum(bx_xaction xact, const char *troutnum) {
    if (!xact) return 0;
    if (!kind_is(xact, BX_DBTYPE_CHECK, BX_DBTYPE_ACH)) return 1;
    if (!troutnum) return 0;
    return set_digits(xact->acc.check.troutnum, troutnum);
}

int bx_xaction_setbankaccnum(bx_xaction xact, const char *bankaccnum) {
    if (!xact) return 0;
    if (!kind_is(xact, BX_DBTYPE_CHECK, BX_DBTYPE_ACH)) return 1;
    if (!bankaccnum) return 0;
    return set_digits(xact->acc.check.bankaccnum, bankaccnum);
}

int bx_xaction_setchecknum(bx_xaction xact, const char *checknum) {
    if (!xact) return 0;
    if (!kind_is(xact, BX_DBTYPE_CHECK)) return 1;
    if (!checknum) return 0;
    return set_digits(xact->acc.check.checknum, checknum);
}

int bx_xaction_setaccname(bx_xaction xact, const char *accname) {
    if (!xact) return 0;
    if (!kind_is(xact, BX_DBTYPE_CARD, BX_DBTYPE_ACH)) return 1;
    if (!accname) return 0;
    return brix::xaction_store_text(xact->acc.check.accname, accname);
}

int bx_xaction_setacctype(bx_xaction xact, int type) {
    if (!xact) return 0;
    if (kind_is(xact, BX_DBTYPE_ACH)) xact->acc.check.acctype = type;
    return 1;
}

int bx_xaction_setproduct(bx_xaction xact, const char *product) {
    if (!xact || !product) return 0;
    return brix::xaction_store_text(xact->acc.check.product, product);
}

// Track 1: format code, card number, separator, name, '^', YYMM, ...
// Any kind of record takes it.
int bx_xaction_settrack1(bx_xaction xact, const char *track1) {
    if (!xact || !track1) return 0;
    qor_field_set(xact->track1, track1);
    const char *p = track1;
    if (*p) p++;                    // format code
    p = take_card_number(xact, p);
    if (*p) p++;                    // separator after the number
    p = strchr(p, '^');             // end of the name field
    if (p)
        take_expiry(xact, p + 1);
    else
        qor_field_set(xact->acc.card.edate, "");
    return 1;
}

// Track 2: card number, separator, YYMM, ...  Any kind of record takes it.
int bx_xaction_settrack2(bx_xaction xact, const char *track2) {
    if (!xact || !track2) return 0;
    qor_field_set(xact->track2, track2);
    const char *p = take_card_number(xact, track2);
    if (*p) p++;                    // separator after the number
    take_expiry(xact, p);
    return 1;
}

int bx_xaction_setentrysource(bx_xaction xact, const char *entry) {
    if (!xact || !entry) return 0;
    return set_word(xact->entrysource, kEntrySources, entry);
}

int bx_xaction_setencryption(bx_xaction xact, const char *argval) {
    if (!xact || !argval) return 0;
    return set_word(xact->encryption, kEncryptions, argval);
}

int bx_xaction_setsetmerchant(bx_xaction xact, const char *val) {
    if (!xact || !val) return 0;
    return brix::xaction_store_text(xact->set_merchant, val);
}

int bx_xaction_setsetcardholder(bx_xaction xact, const char *val) {
    if (!xact || !val) return 0;
    return brix::xaction_store_text(xact->set_cardholder, val);
}

int bx_xaction_setpurchaseorder(bx_xaction xact, const char *val) {
    if (!xact || !val) return 0;
    return brix::xaction_store_text(xact->purchaseorder, val);
}

// Only the first 24 characters are looked at; what is left after the
// filter is cut to the field's 9.
int bx_xaction_setshipzip(bx_xaction xaction, const char *zipcode) {
    if (!xaction || !zipcode) return 0;
    return brix::xaction_store_filtered(xaction->ship_zip, zipcode, 24, bx_packalnums);
}

int bx_xaction_setcvv2(bx_xaction xact, const char *val) {
    if (!xact || !val) return 0;
    if (const WordValue *w = find_word(kCvv2Words, val)) {
        xact->cvv2.status = w->value;
        qor_field_set(xact->cvv2.val, "");
        return 1;
    }
    // Any other text is a value when it holds a digit.
    char digits[sizeof xact->cvv2.val] = {};
    size_t n = 0;
    for (const char *p = val; *p && n < sizeof digits - 1; p++)
        if (is_digit(static_cast<unsigned char>(*p))) digits[n++] = *p;
    if (n == 0) return 0;
    xact->cvv2.status = 2;
    qor_field_set(xact->cvv2.val, digits);
    return 1;
}

// The processor's answer replaces the processor-given fields.  An empty
// authorisation code in the answer keeps the one the merchant gave, and
// the answer's PEM indicator stays with the result only.  Without an
// answer the processor-given fields are emptied; the kept result, the
// cookies and the AVS and CVV2 result codes stay.
void copy_result_data(bx_xaction x, bx_result r) {
    if (!x) return;
    auto &retail = x->data.retail;
    if (!r) {
        qor_field_set(retail.trans_id, "");
        retail.authchar = '\0';
        retail.authsrcchar = '\0';
        qor_field_set(retail.authnetid, "");
        qor_field_set(retail.cardtype, "");
        qor_field_set(x->authcode, "");
        qor_field_set(x->valcode, "");
        qor_field_set(x->retref, "");
        qor_field_set(x->datestamp, "");
        x->msi = '\0';
        return;
    }
    x->hasresult = 1;
    memmove(&x->result, r, sizeof x->result);  // r may be &x->result
    // Read from the kept copy: the daemon's fields need not be terminated,
    // and qor_field_set reads at most the width of each.
    const _bx_result &res = x->result;
    qor_field_set(retail.trans_id, res.data.retail.transid);
    retail.authchar = res.data.retail.authchar;
    retail.authsrcchar = res.data.retail.authsrcchar;
    qor_field_set(retail.authnetid, res.data.retail.authnetid);
    qor_field_set(retail.cardtype, res.data.retail.cardtype);
    if (res.authcode[0] != '\0') qor_field_set(x->authcode, res.authcode);
    qor_field_set(x->valcode, res.valcode);
    qor_field_set(x->retref, res.retref);
    qor_field_set(x->datestamp, res.datestamp);
    qor_field_set(x->cookie1, res.cookie1);
    qor_field_set(x->cookie2, res.cookie2);
    qor_field_set(x->cookie3, res.cookie3);
    retail.avs_code = res.data.retail.avs_code;
    x->cvv2.code = res.cvv2.code;
    x->msi = res.data.retail.marketid;
}

}  // extern "C"
