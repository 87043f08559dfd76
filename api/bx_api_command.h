// bx_api_command: bx_command, the script function "bx_command": hands a
// command code and its argument to the session's chain of command
// handlers (commands/bx_command).
#ifndef BRIX_API_BX_API_COMMAND_H
#define BRIX_API_BX_API_COMMAND_H

#include "commands/bx_command.h"

#ifdef __cplusplus
extern "C" {
#endif

// -7 without a session; else the result of the handler chain, whose answer
// is in apitext.  An empty argument is handed on as no argument.
int bx_command(bx_session vsess, int cmd, const char *argval);

#ifdef __cplusplus
}
#endif

#endif
