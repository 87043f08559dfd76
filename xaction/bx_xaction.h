// bx_xaction: the in-memory transaction record and its processor result.
//
// One payment transaction is a fixed record: account data of one kind
// (card, cheque or ACH), amounts, invoice, merchant extras, processing
// codes, time stamps and the last processor result.  The setters below are
// the only way script input reaches it; each returns 1 on success and 0 on
// refusal and writes no message.  A setter that does not apply to the
// record's kind returns 1 and changes nothing.
//
// Widths are behaviour: a field of N bytes holds at most N - 1 characters,
// and longer input is cut to that width.  Free text (account name,
// product, purchase order, SET certificates, authorisation code) is stored
// without braces and control characters, dropped from the whole text
// before the cut: those fields are printed inside the brace words of
// answer texts and on receipt lines, which a stored '}' or line break
// could otherwise forge.
//
// This header holds the two records, record life, the subtype codes and
// the setters that serve every kind; bx_add (api) and the stream form
// (bx_xaction_keydb) use it.  The kind initialisers and their own setters,
// the state-code table and the money parser have headers of their own.
#ifndef BRIX_XACTION_BX_XACTION_H
#define BRIX_XACTION_BX_XACTION_H

#include <time.h>

#ifdef __cplusplus
extern "C" {
#endif

enum { BX_DBTYPE_CARD = 1, BX_DBTYPE_CHECK = 2, BX_DBTYPE_ACH = 3 };
enum {
    BX_CODE_RETURN = 2, BX_CODE_SALE = 3, BX_CODE_AUTH = 4,
    BX_CODE_VOID = 5, BX_CODE_REVERSE = 6
};
enum { BX_FORMAT_RETAIL = 6, BX_FORMAT_CHECK = 98, BX_FORMAT_ACH = 95 };
// Order types (rtype); the words that select them are bx_ordertypes
// (bx_xaction_retail.h).
enum {
    BX_RTYPE_MAIL = 1, BX_RTYPE_PHONE = 2, BX_RTYPE_RECURRING = 3, BX_RTYPE_INSTALLMENT = 4,
    BX_RTYPE_UNKNOWN = 5, BX_RTYPE_RETAIL = 6, BX_RTYPE_TEST = 7, BX_RTYPE_ECOMMERCE = 8
};

typedef struct _bx_result_service {
    char servicetype[3];      // 2 chars: service type code
    int salenum;              // count of sales
    int saletotal;            // cents
    int returnnum;            // count of returns
    int returntotal;          // cents
    int correctionnum;        // count of corrections
    int correctiontotal;      // cents
} bx_result_service;

typedef struct _bx_result {
    char buf[256];            // raw response buffer (daemon); never stored
    int format;               // result layout code (daemon)
    int acode;                // result code of the request (daemon)
    int rcode;                // numeric response code (daemon)
    char rcodec[4];           // 3 chars: response code as text (daemon)
    char rcodeiso[3];         // 2 chars: ISO response code (daemon)
    int retry;                // retry indicator (daemon)
    int batchnum;             // batch number (daemon)
    int itemnum;              // item number (daemon)
    char authcode[9];         // 8 chars: authorisation code (daemon)
    char valcode[5];          // 4 chars: validation code (daemon)
    char retref[13];          // 12 chars: retrieval reference (daemon)
    char datestamp[13];       // 12 chars: date stamp (daemon)
    char pem;                 // PEM indicator (daemon); never stored
    char cookie1[101];        // 100 chars: opaque (daemon); never stored
    char cookie2[101];        // 100 chars: opaque (daemon); never stored
    char cookie3[101];        // 100 chars: opaque (daemon); never stored
    int icookie1;             // opaque (daemon); never stored
    char text[257];           // 256 chars: response text (daemon)
    struct {
        char code;            // CVV2 result code (daemon); never stored
    } cvv2;
    struct {
        struct {
            char avs_code;    // AVS result code (daemon)
            char authchar;    // authorisation characteristics (daemon)
            char authsrcchar; // authorisation source (daemon)
            char authnetid[3];// 2 chars: authorising network (daemon)
            char cardtype[3]; // 2 chars: card type (daemon)
            char transid[16]; // 15 chars: transaction identifier (daemon)
            char marketid;    // market identifier (daemon)
        } retail;
        struct {
            char batchidnum[19]; // 18 chars: batch identifier (daemon); never stored
        } close;
    } data;
} *bx_result;

typedef struct _bx_xaction_subtype {
    int pflag;                // opaque protocol flag; set by the kind initialiser
    int ptype;                // 1 at creation, 3 after sale/return
    int type;                 // 0 at creation, 2 after sale/return
    int code;                 // requested operation (BX_CODE_*)
    int format;               // kind layout (BX_FORMAT_*)
    int oldformat;            // never set by this library
} bx_xaction_subtype;

struct openbat { int amount; void *vbatch; };   // never used here
struct oparam { int amount; void *vbatch; };    // never used here
struct closebat {                               // never used here
    int bnum, inum, format, inumsale, inumreturn, amountsale, amountreturn;
    int phase, lastservice, numservice, servicetotalcount;
    bx_result_service servicetotal[10];
    int inputtotalcount;
    bx_result_service inputtotals[10];
    int totalsmatch;
    void *vbatch;
};

struct retail {
    int avsflag;              // 1 once an AVS address or ZIP was set (setters)
    char addr[21];            // 20 digits: AVS street address (setter)
    char zip[10];             // 9 letters/digits: AVS ZIP (setter)
    char trans_id[16];        // 15 chars: processor transaction id (result)
    char avs_code;            // processor AVS result (result)
    char invoice[9];          // exactly 8 chars: queue key (invoice setter)
    char comment[26];         // 25 chars: merchant comment (setter)
    char authchar;            // processor authorisation characteristics (result)
    char authsrcchar;         // processor authorisation source (result)
    char authnetid[3];        // 2 chars: authorising network (result)
    char cardtype[3];         // 2 chars: processor card type (result)
    char moto;                // '1'..'4' or NUL, derived from rtype (settype)
};

struct check {
    int dvsflag;              // 1 once licence number or state was set (setters)
    char licensenum[25];      // 24 chars: driver's licence number (setter)
    char licensestate[3];     // 2 chars: translated state code (setter)
};

typedef struct _bx_xaction {
    int dbtype;               // kind: 1 card, 2 cheque, 3 ACH (initialiser)
    struct {
        struct {
            char num[20];     // 19 digits: card number (setter, track data)
            char edate[5];    // 4 digits MMYY: expiry (setter, track data)
        } card;
        struct {
            char troutnum[10];   // 9 digits: transit/routing number (setter)
            char bankaccnum[19]; // 18 digits: bank account number (setter)
            char checknum[11];   // 10 digits: cheque number (setter)
            char accname[23];    // 22 chars: account name (setter)
            char product[41];    // 40 chars: product description (setter)
            int acctype;         // ACH account type: 1 dda, 2 savings (setter)
        } check;
    } acc;
    int amount;               // cents, 1..99,999,999; 0 = not set (setter)
    int tax;                  // cents, same range (setter)
    char ship_zip[10];        // 9 letters/digits: shipping ZIP (setter)
    char purchaseorder[26];   // 25 chars: purchase order (setter)
    char track1[81];          // 80 chars: raw track 1 (setter)
    char track2[81];          // 80 chars: raw track 2 (setter)
    int entrysource;          // 0 not given, 1 merchant, 2 customer (setter)
    int encryption;           // 0 no, 1 yes (setter)
    char set_merchant[26];    // 25 chars: SET merchant certificate (setter)
    char set_cardholder[26];  // 25 chars: SET cardholder certificate (setter)
    struct {
        int status;           // 0 not given, 1 none, 2 value, 3 illegible, 4 not printed
        char val[5];          // 4 digits: CVV2 value (setter)
        char code;            // CVV2 result code (result)
    } cvv2;
    int rtype;                // order type 1..8; 0 not set (settype)
    bx_xaction_subtype subtype; // processing codes (initialiser, requests)
    struct {
        struct openbat open;
        struct oparam oparam;
        struct closebat close;
        struct { int dummy; } restaurant;
        struct { int dummy; } hotel;
        struct retail retail;
        struct check check;
        struct { int dummy; } ach;
    } data;
    int multi;                // memory only; never stored
    int bnum;                 // batch number (daemon)
    int inum;                 // item number within the batch (daemon)
    int sent;                 // item-has-been-sent flag (daemon; requests clear it)
    int counted;              // daemon's counting mark ("ItemCType")
    struct {
        time_t creat;         // creation (bx_new) or authorisation request
        time_t auth;          // authorised (daemon)
        time_t ready;         // queued for settlement (requests)
        time_t done;          // settled (daemon)
    } time;
    char authcode[9];         // 8 chars: authorisation code (merchant or result)
    char valcode[5];          // 4 chars: validation code (result)
    char msi;                 // market identifier (result)
    char retref[13];          // 12 chars: retrieval reference (result)
    char datestamp[13];       // 12 chars: processor date stamp (result)
    char pem;                 // PEM indicator (daemon)
    char cookie1[101];        // 100 chars: opaque daemon value
    char cookie2[101];        // 100 chars: opaque daemon value
    char cookie3[101];        // 100 chars: opaque daemon value
    int hasresult;            // 1 once result holds a processor result
    struct _bx_result result; // copy of the last processor result
} *bx_xaction;

// Record life.  A record made by bx_xaction_create is zero-filled and is
// released with bx_xaction_destroy; callers that keep a record in their
// own storage clear it to zero instead.  The kind initialisers live in
// bx_xaction_retail.h, bx_xaction_check.h and bx_xaction_ach.h.
bx_xaction bx_xaction_create(void);
void bx_xaction_destroy(bx_xaction xaction);
// Store the given subtype codes unchecked; return 1.
int bx_xaction_setprotocol(bx_xaction x, int pflag, int ptype);
int bx_xaction_settype(bx_xaction xaction, int type);
int bx_xaction_setcode(bx_xaction xaction, int code);

// Field setters: 1 success, 0 refusal.  A null record or a null text
// gives 0; a setter whose kind does not apply gives 1 untouched, whatever
// its text.
int bx_xaction_setamount(bx_xaction xact, int amnt);
int bx_xaction_settax(bx_xaction xact, int tax);
int bx_xaction_setcardnum(bx_xaction xact, const char *cardnum);
int bx_xaction_setedate(bx_xaction xact, const char *edate);
int bx_xaction_settroutnum(bx_xaction xact, const char *troutnum);
int bx_xaction_setbankaccnum(bx_xaction xact, const char *bankaccnum);
int bx_xaction_setchecknum(bx_xaction xact, const char *checknum);
int bx_xaction_setaccname(bx_xaction xact, const char *accname);
int bx_xaction_setacctype(bx_xaction xact, int type);
int bx_xaction_setproduct(bx_xaction xact, const char *product);
int bx_xaction_settrack1(bx_xaction xact, const char *track1);
int bx_xaction_settrack2(bx_xaction xact, const char *track2);
int bx_xaction_setentrysource(bx_xaction xact, const char *entry);
int bx_xaction_setencryption(bx_xaction xact, const char *argval);
int bx_xaction_setsetmerchant(bx_xaction xact, const char *val);
int bx_xaction_setsetcardholder(bx_xaction xact, const char *val);
int bx_xaction_setpurchaseorder(bx_xaction xact, const char *val);
int bx_xaction_setshipzip(bx_xaction xaction, const char *zipcode);
int bx_xaction_setcvv2(bx_xaction xact, const char *val);

// Folds a processor result into the record; a null result empties the
// processor-given fields (see bx_xaction.cpp).
void copy_result_data(bx_xaction x, bx_result r);

#ifdef __cplusplus
}

#include <cstdint>
#include <cstring>
#include <new>
#include <string>

#include "support/qor_util.h"
#include "xaction/bx_etc.h"

namespace brix {
// The kind initialisers' common part: the record's kind and the subtype
// a new record of that kind starts with (ptype 1, type 0).
inline void xaction_set_kind(bx_xaction x, int dbtype, int pflag, int code, int format) {
    x->dbtype = dbtype;
    x->subtype.pflag = pflag;
    x->subtype.ptype = 1;
    x->subtype.type = 0;
    x->subtype.code = code;
    x->subtype.format = format;
}

// Stores `text` into a fixed field after running `filter` over a private
// copy of its first `limit` characters; the field's width then cuts what
// is left.  Returns 0 (field untouched) when the copy cannot be made.
template <size_t N, typename Filter>
int xaction_store_filtered(char (&field)[N], const char *text, size_t limit,
                           Filter filter) noexcept {
    try {
        std::string copy(text);
        if (copy.size() > limit) copy.resize(limit);
        filter(copy.data());
        qor_field_set(field, copy.c_str());
        return 1;
    } catch (const std::bad_alloc &) {
        return 0;
    }
}

// Stores free text a script gave (see the top of this header).
template <size_t N>
int xaction_store_text(char (&field)[N], const char *text) noexcept {
    return xaction_store_filtered(field, text, SIZE_MAX, bx_etc_plaintext);
}
}  // namespace brix
#endif

#endif
