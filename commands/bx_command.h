// bx_command: hands a script command to the session's chain of command
// handlers.  Protocols that offer commands put their handlers in front of
// bx_cmd_defaulthandler, which refuses everything; a handler that does not
// serve a command passes it on.
#ifndef BRIX_COMMANDS_BX_COMMAND_H
#define BRIX_COMMANDS_BX_COMMAND_H

#include "session/bx_session.h"

#ifdef __cplusplus
extern "C" {
#endif

// -7 without a session; else the result of the handler chain.
int bx_command(bx_session vsess, int cmd, const char *argval);
// Writes "text {invalid operation for this protocol}" and returns 5.
int bx_cmd_defaulthandler(bx_session vsess, int cmd, const char *argval);

#ifdef __cplusplus
}
#endif

#endif
