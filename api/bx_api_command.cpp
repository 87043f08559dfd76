// bx_api_command: bx_command hands a script command to the session's
// chain of command handlers.  Called by the script binding.
//
// Failure policy: nothing is logged here; the handlers answer with their
// return code and text.
#include "api/bx_api_command.h"

extern "C" {

int bx_command(bx_session vsess, int cmd, const char *argval) {
    if (!vsess) return BX_UNINIT;
    // Handlers never see an empty argument: it means no argument.
    if (argval && !*argval) argval = nullptr;
    vsess->apitext[0] = '\0';
    bx_cmdhandler handler = vsess->commandhandler ? vsess->commandhandler : bx_cmd_defaulthandler;
    return handler(vsess, cmd, argval);
}

}  // extern "C"
