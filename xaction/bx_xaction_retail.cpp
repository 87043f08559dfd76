// bx_xaction_retail: the card kind of transaction record.
//
// bx_new (api) initialises card records and stamps every record's invoice
// here; bx_add (api) sets the AVS data, comment, order type and
// authorisation code.  auth2ticket and ready2done fold a processor answer
// into a record.
//
// Failure policy: setters return 1 or 0 and never log; a null record or
// text, or no memory for a working copy, gives 0 with the record as it was.
#include "xaction/bx_xaction_retail.h"

#include <cstdint>
#include <cstring>
#include <new>

#include "support/qor_util.h"
#include "xaction/bx_etc.h"
#include "xaction/bx_packdigits.h"

namespace {

constexpr size_t kZipScan = 24;    // characters of a ZIP text looked at
constexpr int kCommentWidth = 25;  // characters a comment keeps

}  // namespace

const bx_ordertype *bx_ordertype_of(int rtype) {
    for (const bx_ordertype &t : bx_ordertypes)
        if (t.rtype == rtype) return &t;
    return nullptr;
}

const bx_ordertype *bx_ordertype_named(const char *word) {
    if (!word) return nullptr;
    for (const bx_ordertype &t : bx_ordertypes)
        if (qor_util_strcasecmp(t.word, word) == 0) return &t;
    return nullptr;
}

extern "C" {

int bx_xaction_retail_init(bx_xaction xaction) {
    if (!xaction) return 0;
    brix::xaction_set_kind(xaction, BX_DBTYPE_CARD, 42, BX_CODE_AUTH, BX_FORMAT_RETAIL);
    memset(&xaction->data.retail, 0, sizeof xaction->data.retail);
    return 1;
}

int bx_xaction_retail_destroy(bx_xaction) { return 1; }

int bx_xaction_retail_setaddr(bx_xaction xaction, const char *addr) {
    if (!xaction || !addr) return 0;
    if (!brix::xaction_store_filtered(xaction->data.retail.addr, addr, SIZE_MAX, bx_packdigits))
        return 0;
    xaction->data.retail.avsflag = 1;
    return 1;
}

int bx_xaction_retail_setzip(bx_xaction xaction, const char *zipcode) {
    if (!xaction || !zipcode) return 0;
    if (!brix::xaction_store_filtered(xaction->data.retail.zip, zipcode, kZipScan, bx_packalnums))
        return 0;
    xaction->data.retail.avsflag = 1;
    return 1;
}

int bx_xaction_retail_setcomment(bx_xaction x, const char *comment) {
    if (!x || !comment) return 0;
    return brix::xaction_store_filtered(x->data.retail.comment, comment, SIZE_MAX,
                                        [](char *t) { bx_etc_alphanum(t, kCommentWidth); });
}

int bx_xaction_retail_settype(bx_xaction x, int type) {
    if (!x) return 0;
    x->rtype = type;
    const bx_ordertype *t = bx_ordertype_of(type);
    x->data.retail.moto = t ? t->moto : '\0';
    return 1;
}

// The invoice is the record's key in every queue: always exactly eight
// upper-case letters and digits, padded with 'X'.
int bx_xaction_retail_setinvoice(bx_xaction x, const char *invoice) {
    if (!x || !invoice) return 0;
    try {
        bx_invoice_key(invoice, x->data.retail.invoice);
    } catch (const std::bad_alloc &) {
        return 0;
    }
    return 1;
}

// A merchant-given authorisation code (a voice authorisation); an empty
// text, or one of braces and control characters only, takes a code back.
int bx_xaction_retail_setacode(bx_xaction x, const char *acode) {
    if (!x || !acode) return 0;
    return brix::xaction_store_text(x->authcode, acode);
}

int bx_xaction_retail_auth2ticket(bx_xaction x, bx_result r) {
    if (!x) return 0;
    copy_result_data(x, r);
    if (x->subtype.code != BX_CODE_AUTH) return 0;
    x->subtype.ptype = 3;
    x->subtype.type = 2;
    x->subtype.code = BX_CODE_SALE;
    return 1;
}

int bx_xaction_retail_ready2done(bx_xaction x, bx_result r) {
    if (!x) return 0;
    if (r) copy_result_data(x, r);
    return 1;
}

}  // extern "C"
