// bx_api_report: bx_report, the script's reading of a daemon report.
#ifndef BRIX_API_BX_API_REPORT_H
#define BRIX_API_BX_API_REPORT_H

#include "session/bx_session.h"

#ifdef __cplusplus
extern "C" {
#endif

// The same as bx_getreport (session/bx_report.h).
int bx_report(bx_session session, int type);

#ifdef __cplusplus
}
#endif

#endif
