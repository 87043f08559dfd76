// bx_api_report: the script-facing name of bx_getreport.
#include "api/bx_api_report.h"

#include "session/bx_report.h"

extern "C" int bx_report(bx_session session, int type) { return bx_getreport(session, type); }
