// bx_xaction_retail: the card (retail) kind of transaction record.
//
// bx_new (api) initialises card records here and stamps every record's
// invoice with bx_xaction_retail_setinvoice, whatever its kind; bx_add
// (api) applies the AVS, comment, order-type and authorisation-code
// setters.  The two result routines fold a processor answer into a
// record for the daemon's side of the interface.
//
// Failure policy: setters return 1 or 0 and write no message; a null
// record or text gives 0.
#ifndef BRIX_XACTION_BX_XACTION_RETAIL_H
#define BRIX_XACTION_BX_XACTION_RETAIL_H

#include "xaction/bx_xaction.h"

#ifdef __cplusplus
extern "C" {
#endif

// Sets dbtype 1 and the card subtype (42/1/0/4/6), clears data.retail;
// returns 1.  The destroy call has nothing to release and returns 1.
int bx_xaction_retail_init(bx_xaction xaction);
int bx_xaction_retail_destroy(bx_xaction xaction);

int bx_xaction_retail_setaddr(bx_xaction xaction, const char *addr);
int bx_xaction_retail_setzip(bx_xaction xaction, const char *zipcode);
int bx_xaction_retail_setcomment(bx_xaction x, const char *comment);
int bx_xaction_retail_settype(bx_xaction x, int type);
int bx_xaction_retail_setinvoice(bx_xaction x, const char *invoice);
int bx_xaction_retail_setacode(bx_xaction x, const char *acode);

// Folds the result in, then turns an authorisation (code 4) into a sale
// ticket and returns 1; any other code is left alone and gives 0.
int bx_xaction_retail_auth2ticket(bx_xaction x, bx_result r);
// Folds the result in when one is given; returns 1.
int bx_xaction_retail_ready2done(bx_xaction x, bx_result r);

#ifdef __cplusplus
}

// One order type: the script's word for it (compared without regard to
// case), its code, the mail/telephone order character it implies (NUL:
// none) and whether the status text names it.
struct bx_ordertype {
    const char *word;
    int rtype;
    char moto;
    bool shown;
};
inline constexpr bx_ordertype bx_ordertypes[] = {
    {"mail", BX_RTYPE_MAIL, '1', true},
    {"phone", BX_RTYPE_PHONE, '1', true},
    {"recurring", BX_RTYPE_RECURRING, '2', true},
    {"installment", BX_RTYPE_INSTALLMENT, '3', true},
    {"unknown", BX_RTYPE_UNKNOWN, '4', true},
    {"retail", BX_RTYPE_RETAIL, '\0', true},
    {"test", BX_RTYPE_TEST, '\0', true},
    {"ecommerce", BX_RTYPE_ECOMMERCE, '\0', false},
};
// The order type of a code, or of a word; null for none.
const bx_ordertype *bx_ordertype_of(int rtype);
const bx_ordertype *bx_ordertype_named(const char *word);
#endif

#endif
