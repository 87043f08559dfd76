// bx_session: the session record, the one shared record of the library.
//
// bx_init (api/bx_api_init) opens a session on a merchant configuration:
// it builds this record with bx_session_create, which copies the merchant
// identity out of the configuration and opens the nine spool queues.
// Every script-facing operation takes the session, clears apitext, works
// through the queues and leaves its answer text in apitext.
//
// Failure policy: bx_session_create logs why it failed and returns null;
// a queue that cannot be opened is logged and left absent.
#ifndef BRIX_SESSION_BX_SESSION_H
#define BRIX_SESSION_BX_SESSION_H

#include <time.h>

#include "session/bx_argconv.h"
#include "session/bx_config.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct _bx_queue *bx_queue;
typedef struct _bx_result *bx_result;
typedef struct _bx_xaction *bx_xaction;
typedef struct _bx_session *bx_session;

// A command handler: (session, command code, argument text or null).
typedef int (*bx_cmdhandler)(bx_session vsess, int cmd, const char *argval);
// A request validator: nonzero accepts the transaction.
typedef int (*bx_validator)(bx_session vsess, bx_xaction vxact);

// One per card type, in the order of bx_ctype_shortname (validate/bx_util_issuer.h).
struct _issuer {
    char magic[11];           // 10 chars: card-range magic (IssuerMagic)
};

struct _val {                 // request validators (protocol setup)
    bx_validator bx_auth;
    bx_validator bx_reverse;
    bx_validator bx_sale;
    bx_validator bx_return;
    bx_validator bx_void;
};

struct _fsm {                 // reserved for the processing daemon
    int error;
    int (*f[15])(void);
    int (*hangup)(void);
};

struct _upload {              // reserved for the processing daemon
    int (*batchhandler)(void);
    bx_result (*performxact)(void);
    int (*initbatch)(void);
    int (*batchselect)(void);
    int (*preparebatch)(void);
    bx_result (*performbatch)(void);
    int batchstart;
    int batchend;
};

struct _comm {                // reserved for the processing daemon
    int (*open)(void);
    int (*read)(void);
    int (*write)(void);
    int (*close)(void);
    int (*flush)(void);
};

struct _dll_flags {
    int needs_init;           // terminal must be initialised (stored as one digit)
    time_t needs_init_time;   // when the request was made, seconds
    int needs_init_valid;     // sync state of needs_init
    int needs_init_lockfd;    // descriptor of the init flag lock file, -1 none
};

struct _dll_counters {
    int batchvalid;           // sync state of batchnum
    int batchnum;             // current batch number
    int transvalid;           // sync state of transnum
    int transnum;             // current transaction number
};

struct _dll_init_state {
    int valid;                // sync state
    char access_code;         // terminal access code byte
    char processing_code;     // terminal processing code byte
};

struct _dll_timing_data {
    int valid;                // sync state
    int active;               // 0 or 1
    time_t upload_time;       // seconds
    time_t last_response_dur; // seconds
};

struct _dll_timeouts {
    int valid;                // sync state
    int enq;                  // line timeouts, seconds
    int rsp;
    int eot;
};

struct _dll_delays {          // demonstration delays (DemoDelay* keys), seconds
    int dialmin, dialmax;
    int transmin, transmax;
    int hangupmin, hangupmax;
};

struct _dll_merchant {
    int valid;                // sync state
    char id[20];              // 19 chars: merchant id
    char name[41];            // 40 chars: merchant name
    int authallowed;          // 0 or 1
    int returnallowed;        // 0 or 1
};

struct _bx_dll_range {
    char servicetype[3];      // 2 chars
    char prefixlow[12];       // 11 chars
    char prefixhigh[12];      // 11 chars
};

struct _dll_ranges {
    int valid;                // sync state
    int numranges;            // 0..30
    struct _bx_dll_range s[30];
};

struct _dll_phonenum {
    int valid;                // sync state
    char primary[33];         // 32 chars
    char secondary[33];       // 32 chars
};

struct _dll {                 // shared processor state and handler slots
    bx_cmdhandler connectslot;
    bx_cmdhandler hangupslot;
    bx_cmdhandler counthangupslot;
    bx_cmdhandler inithandlerslot;
    bx_cmdhandler resendhandlerslot;
    bx_cmdhandler forcebatchhandlerslot;
    bx_cmdhandler receipthandlerslot;
    bx_cmdhandler phonenumhandlerslot;
    int general_lockfd;
    struct _dll_flags flags;
    struct _dll_counters counters;
    struct _dll_init_state init_state;
    struct _dll_timing_data timing_data;
    struct _dll_timeouts timeouts;
    struct _dll_delays delays;
    struct _dll_merchant merchant;
    struct _dll_ranges ranges;
    struct _dll_phonenum phonenum;
};

struct _track {               // reserved for the processing daemon
    int counted;
    int valid;
    time_t next_upload;
    int meterfd;
};

struct _modem {               // not filled by this library
    char port[64];
    char initstr[64];
    char dialstr[64];
    char hupstr[64];
};

enum { BX_APITEXT_SIZE = 10240, BX_NUM_ISSUERS = 10 };

struct _bx_session {
    int state;                // reserved for the daemon; 0
    int fd;                   // reserved for the daemon; -1 at open
    int naks;                 // reserved for the daemon; 0
    int packets;              // reserved for the daemon; 0
    int dialattempts;         // reserved for the daemon; 0
    bx_config_config_data config_context; // loaded configuration (owned)
    char name[4095];          // reserved; not filled
    char qdir[4095];          // 4094 chars: data directory (BRIXPath)
    int dbtype;               // record kind bx_new creates (protocol setup)
    int connmethod;           // reserved for the daemon
    char netlogin[13];        // reserved for the daemon
    int protocol;             // clearing-protocol number (protocol setup)
    int prophase;             // reserved for the daemon; 0 at open
    char *port;               // ModemPort, whole (owned)
    char mercid[33];          // 32 chars: MerchantNo
    char devid[33];           // 32 chars: DeviceID
    char opid[5];             // 4 chars: OperatorID
    char transtype[6];        // 5 chars: TransactionCode
    char taxid[10];           // 9 chars: TaxpayerID
    char bankid[7];           // 6 chars: BankID, default "000000"
    char agentbank[7];        // 6 chars: AgentBank, default "000000"
    char agentchain[7];       // 6 chars: AgentChain, default "000000"
    char mercname[26];        // 25 chars: MerchantName
    char currency[4];         // 3 chars: Currency, default "840"
    char streetname[81];      // 80 chars: MerchantStreet
    char cityname[14];        // 13 chars: MerchantCity
    char statename[3];        // 2 chars: MerchantState
    char country[4];          // 3 chars: MerchantCountry, default "840"
    char citycode[10];        // exactly 9 chars, space padded: MerchantZIP
    char timezone[4];         // 3 chars: MerchantTimeZone, default "705"
    char industry[5];         // 4 chars: MerchantIndustry, default "5999"
    char entrycap[2];         // 1 char: EntryCapabilities, default "U"
    char taxexempt[2];        // 1 char: TaxExempt, default "U"
    char mercomment[257];     // 256 chars: MerchantComment
    struct _issuer issuer[BX_NUM_ISSUERS]; // per card type (IssuerMagic)
    char version[9];          // 8 chars: "BRIX3.3A"
    int baudrate;             // reserved for the daemon
    int force;                // 1 when Force is "always" or "true"
    bx_queue new_;            // queue "new" (owned; null when it failed to open)
    bx_queue auth;            // queue "auth"
    bx_queue ready;           // queue "ready"
    bx_queue done;            // queue "done"
    bx_queue unauth;          // queue "unauth"
    bx_queue denied;          // queue "denied"
    bx_queue review;          // queue "review"
    bx_queue bad;             // queue "bad"
    bx_queue globals;         // queue "globals" (shared processor state)
    bx_result lastresult;     // reserved; not set
    char apitext[BX_APITEXT_SIZE]; // answer text of the last operation
    struct _val val;          // request validators (protocol setup)
    struct _fsm fsm;          // reserved for the daemon
    struct _upload upload;    // reserved for the daemon
    struct _comm comm;        // reserved for the daemon
    bx_cmdhandler commandhandler; // first command handler of the chain
    struct _dll dll;          // shared processor state
    struct _track track;      // reserved for the daemon
    int modems;               // reserved for the daemon
    int cmodem;               // reserved for the daemon
    struct _modem *modem;     // not filled; released at close if present
};

// Why the last bx_init failed; kept until the next failure.
extern char bx_initerror[1024];

bx_session bx_session_create(bx_config_config_data configuration);
void bx_session_destroy(bx_session session);

#ifdef __cplusplus
}

#include <array>
#include <cstdarg>
#include <cstdio>

// The eight transaction queues, one row each in status-bit order (new = 1
// ... bad = 128).  The queue's directory and status name is
// bx_stat2str(status).  Every operation that picks a queue by status, the
// status search, counting and opening read this table.
struct bx_queue_def {
    int status;                   // status bit, BX_STAT_*
    bx_queue _bx_session::*field; // the session's queue
    int search;                   // place in bx_status's search, 1 first
    const char *count_label;      // bx_count's label, "%d" for the count
    const char *missing;          // NonFatal error when it cannot be opened
};

inline constexpr bx_queue_def bx_queue_defs[8] = {
    {BX_STAT_NEW, &_bx_session::new_, 8, "new {%d} ", "unable to open 'new' queue"},
    {BX_STAT_AUTH, &_bx_session::auth, 6, "authorized {%d} ", "unable to open 'auth' queue"},
    {BX_STAT_READY, &_bx_session::ready, 3, "ready {%d} ", "unable to open 'ready' queue"},
    {BX_STAT_DONE, &_bx_session::done, 2, "done {%d} ", "unable to open 'done' queue"},
    {BX_STAT_UNAUTH, &_bx_session::unauth, 7, "unauthorized {%d} ", "unable to open 'unauth queue"},
    {BX_STAT_DENIED, &_bx_session::denied, 4, "denied {%d} ", "unable to open 'denied' queue"},
    {BX_STAT_REVIEW, &_bx_session::review, 5, "review {%d} ", "unable to open 'review' queue"},
    {BX_STAT_BAD, &_bx_session::bad, 1, "bad {%d} ", "unable to open 'bad' queue"},
};

// The ninth queue holds the shared processor state, no transactions.
inline constexpr const char *bx_globals_name = "globals";

// The rows of bx_queue_defs in bx_status's search order: a transaction
// held by several queues at once is reported from the earliest.
inline constexpr std::array<const bx_queue_def *, 8> bx_queue_search = [] {
    std::array<const bx_queue_def *, 8> order{};
    for (const bx_queue_def &d : bx_queue_defs) order[d.search - 1] = &d;
    return order;
}();
// Checked on the places themselves: a sanitizing build cannot compare the
// table's addresses at compile time.
static_assert([] {
    bool taken[8] = {};
    for (const bx_queue_def &d : bx_queue_defs) {
        if (d.search < 1 || d.search > 8 || taken[d.search - 1]) return false;
        taken[d.search - 1] = true;
    }
    return true;
}(), "every queue has its own place in the status search");

// The row of one status bit, or null for any other value.
inline const bx_queue_def *bx_queue_def_of(int status) {
    for (const bx_queue_def &d : bx_queue_defs)
        if (d.status == status) return &d;
    return nullptr;
}

// The session's data directory and queues, for the moves and recovery of
// the queue store (queue/bx_spool.h).
struct bx_spool;
bx_spool bx_session_spool(bx_session s);

// Replaces the session's answer text (cut to the field).
void bx_settext(bx_session s, const char *text);
// Appends formatted text to the answer text (cut to the field).
void bx_appendf(bx_session s, const char *format, ...) __attribute__((format(printf, 2, 3)));
#endif

#endif
