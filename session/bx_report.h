// bx_report: the processing daemon's one-line status reports.
//
// The daemon's server task and its upload (batch) task each keep one
// report, "<qdir>.dstat" and "<qdir>.ustat", beside the merchant's data
// directory.  bx_setreport is the writing side's call (this library never
// writes a report itself); bx_getreport reads a report back into the
// session's answer text and is what the script's "bx_report" reaches.
//
// Failure policy: every failure is a return code, nothing is logged except
// a data directory path too long to name its report files.
#ifndef BRIX_SESSION_BX_REPORT_H
#define BRIX_SESSION_BX_REPORT_H

#include "session/bx_session.h"

#ifdef __cplusplus
extern "C" {
#endif

// File suffixes by report type: "debug" (no report type), "dstat" (server),
// "ustat" (upload).
extern const char *const bx_repname[3];

// Reads the report of type BX_REP_SERVER or BX_REP_UPLOAD: its first line,
// line feed included, into apitext.  0; -7 no session; -2 another type;
// 128 the report is missing, empty, unreadable or its name too long.
int bx_getreport(bx_session session, int type);

// Writes "task {<task>} current {<current>} time {<ctime>}\n" as the report
// of `type`, through a temporary file "<qdir>.<pid>" renamed over the
// report, so a reader sees the old or the new line, never a part.  A null
// current writes "none", a null task the empty text.  0; -7 no session;
// -2 another type; 128 the temporary file cannot be created, written or
// closed (or a name is too long); bx_debug_error()'s code when the rename
// fails.
int bx_setreport(bx_session session, int type, const char *task, const char *current);

#ifdef __cplusplus
}
#endif

#endif
