// bx_command: the chain of command handlers.  Protocols that offer
// commands put their handlers in front of bx_cmd_defaulthandler, which
// refuses everything; a handler that does not serve a command passes it on
// to the handler it stood in front of, kept in its own dll slot.  The
// script-facing bx_command (api/bx_api_command) calls the chain's first
// handler, the session's commandhandler.
#ifndef BRIX_COMMANDS_BX_COMMAND_H
#define BRIX_COMMANDS_BX_COMMAND_H

#include "session/bx_session.h"

#ifdef __cplusplus
extern "C" {
#endif

// Writes "text {invalid operation for this protocol}" and returns 5.
int bx_cmd_defaulthandler(bx_session vsess, int cmd, const char *argval);

#ifdef __cplusplus
}

// Puts handler in front of the session's chain: the handler that stood in
// front so far goes into slot, the handler's own dll slot, to which it
// passes the commands it does not serve.
inline void bx_cmd_chain(bx_session s, bx_cmdhandler handler, bx_cmdhandler _dll::*slot) {
    s->dll.*slot = s->commandhandler;
    s->commandhandler = handler;
}

// Hands a command on to the handler in slot (the default handler when the
// slot is empty).
inline int bx_cmd_pass(bx_session s, bx_cmdhandler _dll::*slot, int cmd, const char *argval) {
    bx_cmdhandler next = s->dll.*slot ? s->dll.*slot : bx_cmd_defaulthandler;
    return next(s, cmd, argval);
}
#endif

#endif
