// bx_cmd_rbank: the Royal Bank commands, "receipt" (a customer receipt for
// one invoice in the answer text) and "initialize" (the terminal
// initialisation flag shared with the daemon).
#ifndef BRIX_COMMANDS_BX_CMD_RBANK_H
#define BRIX_COMMANDS_BX_CMD_RBANK_H

#include "session/bx_session.h"

#ifdef __cplusplus
extern "C" {
#endif

// Serves "receipt" (argument: the invoice); passes other commands to the
// handler in dll.receipthandlerslot.
int bx_cmd_rbank_receipt(bx_session vsess, int cmd, const char *argval);
// Serves "initialize" (no argument); passes other commands to the handler
// in dll.inithandlerslot.
int bx_cmd_rbank_init(bx_session vsess, int cmd, const char *argval);
// Chains receipt in front of initialise in front of the session's handler
// and clears the Royal Bank state cache (the Royal Bank setup calls it).
void bx_cmd_rbank_install(bx_session s);

#ifdef __cplusplus
}
#endif

#endif
