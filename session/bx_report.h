// bx_report: the processing daemon's one-line status reports, "<qdir>.dstat"
// (server) and "<qdir>.ustat" (upload), beside the data directory.
#ifndef BRIX_SESSION_BX_REPORT_H
#define BRIX_SESSION_BX_REPORT_H

#include "session/bx_session.h"

#ifdef __cplusplus
extern "C" {
#endif

// File suffixes by report type: "debug", "dstat", "ustat".
extern const char *const bx_repname[3];

int bx_getreport(bx_session session, int type);
int bx_setreport(bx_session session, int type, const char *task, const char *current);

#ifdef __cplusplus
}
#endif

#endif
