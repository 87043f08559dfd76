// bx_report: placeholder until the reports are built.
#include "session/bx_report.h"

extern "C" {
const char *const bx_repname[3] = {"debug", "dstat", "ustat"};
int bx_getreport(bx_session session, int) { return session ? BX_FAILED : BX_UNINIT; }
int bx_setreport(bx_session session, int, const char *, const char *) {
    return session ? BX_FAILED : BX_UNINIT;
}
}
