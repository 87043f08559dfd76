// bx_argconv: the fixed vocabulary of the script side and its codes.
//
// Return codes and their texts, queue status names and bits, transaction
// argument names, report types and command names.  The script binding and
// every script-facing operation convert through these; the tables are
// constant and shared by the whole process.
//
// Failure policy: nothing here fails.  A word that names nothing gives the
// code after the table (a null word counts as such a word); a code outside
// a table gives "unknown".  Words are compared without regard to case.
#ifndef BRIX_SESSION_BX_ARGCONV_H
#define BRIX_SESSION_BX_ARGCONV_H

#ifdef __cplusplus
extern "C" {
#endif

// Return codes of every operation that acts on a session.
enum {
    BX_OK = 0,
    BX_NEGATIVE = 1,          // "negative response"
    BX_ACTION = 2,            // "action required"
    BX_AVSFAIL = 3,           // "AVS failure"
    BX_NOTDONE = 4,           // "not done"
    BX_INVALID = 5,           // "invalid request": validator or command handler refused
    BX_COMM = -1,             // "comm error"
    BX_SYNTAX = -2,           // "syntax error"
    BX_DUPLICATE = -3,        // "duplicate invoice"
    BX_BADINVOICE = -4,       // "bad invoice"
    BX_DATA = -5,             // "data problem"
    BX_OSBUG = -6,            // "OS bug"
    BX_UNINIT = -7,           // "uninitialized": no session given
    BX_FAILED = 128,          // a file or queue operation failed ("unknown")
    BX_NOTVOIDABLE = -128     // void of an invoice in no voidable state ("unknown")
};

// Queue status bits; a status value is a mask over the eight queues.
enum {
    BX_STAT_NONE = 0,
    BX_STAT_NEW = 1,
    BX_STAT_AUTH = 2,
    BX_STAT_READY = 4,
    BX_STAT_DONE = 8,
    BX_STAT_UNAUTH = 16,
    BX_STAT_DENIED = 32,
    BX_STAT_REVIEW = 64,
    BX_STAT_BAD = 128,
    BX_STAT_ALL = 255,
    BX_STAT_UNKNOWN = 256     // a word that names no status: selects no queue
};

// Transaction argument codes taken by bx_add (index into argtypes).
enum {
    BX_ARG_END = 0,
    BX_ARG_AMOUNT = 1,
    BX_ARG_CARDNUM = 2,
    BX_ARG_EXPDATE = 3,
    BX_ARG_ADDRESS = 4,
    BX_ARG_ZIPCODE = 5,
    BX_ARG_COMMENT = 6,
    BX_ARG_TYPE = 7,
    BX_ARG_STATUS = 8,
    BX_ARG_TROUTNUM = 9,
    BX_ARG_BANKACCNUM = 10,
    BX_ARG_CHECKNUM = 11,
    BX_ARG_LICENSENUM = 12,
    BX_ARG_LICENSESTATE = 13,
    BX_ARG_ACCOUNTNAME = 14,
    BX_ARG_ACCOUNTTYPE = 15,
    BX_ARG_PRODUCT = 16,
    BX_ARG_ACODE = 17,
    BX_ARG_TAX = 18,
    BX_ARG_TRACK1 = 19,
    BX_ARG_TRACK2 = 20,
    BX_ARG_ENTRYSOURCE = 21,
    BX_ARG_PURCHASEORDER = 22,
    BX_ARG_SHIPZIPCODE = 23,
    BX_ARG_ENCRYPTION = 24,
    BX_ARG_SETMERCHANT = 25,
    BX_ARG_SETCARDHOLDER = 26,
    BX_ARG_CVV2 = 27,
    BX_ARG_UNKNOWN = 28       // a word outside the table
};

// Report types (index into reptypes).
enum {
    BX_REP_BOGUS = 0,
    BX_REP_SERVER = 1,
    BX_REP_UPLOAD = 2,
    BX_REP_UNKNOWN = 3        // every other word, "bogus" included
};

// Command codes given to the protocol's command handler (index into cmdtypes).
enum {
    BX_CMD_INITIALIZE = 0,
    BX_CMD_CANCEL = 1,
    BX_CMD_RESEND = 2,
    BX_CMD_FORCEBATCH = 3,
    BX_CMD_RECEIPT = 4,
    BX_CMD_PHONENUM = 5,
    BX_CMD_UNKNOWN = 6        // a word outside the table
};

enum {
    BX_NUM_RETVALS = 6,       // codes 0..5
    BX_NUM_NEGRETVALS = 8,    // codes 0..-7
    BX_NUM_STATI = 10,
    BX_NUM_ARGTYPES = 28,
    BX_NUM_REPTYPES = 3,
    BX_NUM_CMDTYPES = 6
};

extern const char *const retvals[BX_NUM_RETVALS];       // texts of codes 0..5
extern const char *const negretvals[BX_NUM_NEGRETVALS]; // texts of codes 0..-7, by absolute value
extern const char *const stati[BX_NUM_STATI];           // "none", eight queues, "unknown"
extern const char *const argtypes[BX_NUM_ARGTYPES];
extern const char *const reptypes[BX_NUM_REPTYPES];
extern const char *const cmdtypes[BX_NUM_CMDTYPES];

// Text of a return code; "unknown" outside the tables.
const char *bx_ret2str(int code);
// Status word to value: "all" 255, "none" 0, a queue name its bit, else 256.
int bx_str2stat(const char *name);
// Status value to the name of its highest set bit (128 and up: "bad");
// 0 gives "none", a negative value "unknown".
const char *bx_stat2str(int value);
// Argument word to code 0..27, else 28.
int bx_str2arg(const char *name);
// "server" 1, "upload" 2, any other word 3.
int bx_str2rep(const char *name);
// Command word to code 0..5, else 6.
int bx_str2cmd(const char *name);

#ifdef __cplusplus
}
#endif

#endif
