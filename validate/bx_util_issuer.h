// bx_util_issuer: card issuer (brand) and card category by card number.
//
// The issuer code decides whether some clearing protocols accept a card
// at all (bx_val_southp, bx_val_nash, bx_val_utf); the short names are the
// keys of the merchant configuration's IssuerMagic list, which the session
// reads (bx_session) into its issuer table in this order.
//
// Failure policy: a pattern that does not compile gives -1; nothing is
// logged.  The patterns are compiled once per process and kept.
#ifndef BRIX_VALIDATE_BX_UTIL_ISSUER_H
#define BRIX_VALIDATE_BX_UTIL_ISSUER_H

#include "session/bx_session.h"

#ifdef __cplusplus
extern "C" {
#endif

// Issuer codes: the index into the four issuer tables.
enum {
    BX_ISSUER_BAD = 0,        // no digits at all
    BX_ISSUER_VISA = 1,
    BX_ISSUER_MC = 2,
    BX_ISSUER_AMEX = 3,
    BX_ISSUER_DC = 4,
    BX_ISSUER_DISCOVER = 5,
    BX_ISSUER_ENROUTE = 6,
    BX_ISSUER_JCB = 7,
    BX_ISSUER_CB = 8,
    BX_ISSUER_UNKNOWN = 9     // digits outside every known range
};

// Card categories: the index into bx_ctype_catname.  Corporate has a
// name but is never the result of a classification.
enum {
    BX_CATEGORY_NORMAL = 0,
    BX_CATEGORY_PURCHASE = 1,
    BX_CATEGORY_BUSINESS = 2,
    BX_CATEGORY_CORPORATE = 3,
    BX_NUM_CATEGORIES = 4
};

extern const char *const bx_ctype_name[BX_NUM_ISSUERS];       // "bad", "VISA", ...
extern const char *const bx_ctype_shortname[BX_NUM_ISSUERS];  // "BAD", "VISA", "MC", ...
extern const char *const bx_ctype_rx[BX_NUM_ISSUERS];         // POSIX extended patterns
extern const char *const bx_ctype_catname[BX_NUM_CATEGORIES]; // "normal", "purchase", ...

// The issuer code of a card number or raw track data (BX_ISSUER_*), or -1
// when a pattern cannot be compiled.  Only the first 16 digits before the
// first '=' or '^' count; a text without digits is BX_ISSUER_BAD.
int bx_util_issuer(const char *cardnum);
// The card category (normal, purchase or business) by the same digits,
// or -1 when a pattern cannot be compiled.
int bx_util_issuercategory(const char *cardnum);

#ifdef __cplusplus
}
#endif

#endif
