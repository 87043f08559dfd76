// bx_cmd_utf: the UTF command "resend", which moves one upload batch from
// the "bad" queue back to "ready".
#ifndef BRIX_COMMANDS_BX_CMD_UTF_H
#define BRIX_COMMANDS_BX_CMD_UTF_H

#include "session/bx_session.h"

#ifdef __cplusplus
extern "C" {
#endif

// Serves "resend" (argument: the batch number); passes other commands to
// the handler in dll.resendhandlerslot.
int bx_cmd_utf_resend(bx_session vsess, int cmd, const char *argval);
// Chains resend in front of the session's handler (the UTF setup calls it).
void bx_cmd_utf_install(bx_session s);

#ifdef __cplusplus
}
#endif

#endif
