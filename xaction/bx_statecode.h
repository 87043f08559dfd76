// bx_statecode: driver's-licence state codes per clearing protocol.
//
// bx_add (api) translates the state a script gives for a cheque into the
// code that the session's protocol sends, before storing it with
// bx_xaction_check_setlicensestate.
//
// Failure policy: an unknown state, a protocol without state codes, or a
// missing session or text all give null; nothing is logged.
#ifndef BRIX_XACTION_BX_STATECODE_H
#define BRIX_XACTION_BX_STATECODE_H

#include "xaction/bx_xaction.h"

#ifdef __cplusplus
extern "C" {
#endif

struct _bx_session;

// One row of the state table.
typedef struct state_entry_struct {
    const char *abbrev;        // two-letter abbreviation, matched ignoring case
    const char *scancode;      // two-digit SCAN / demonstration code, or null
    const char *telecheckcode; // two-digit TeleCheck code, or null
    const char *name;          // full name (never matched)
} state_entry_struct;

// The 74 states in their fixed order, then an all-null row.
extern const state_entry_struct table[];

// The code of state `str` for the session's protocol, or null.  The text
// returned is static.
const char *bx_statecode(struct _bx_session *vsess, const char *str);

#ifdef __cplusplus
}
#endif

#endif
