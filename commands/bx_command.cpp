// bx_command: command dispatch.  See bx_command.h.
//
// Failure policy: nothing is logged here; handlers answer with a return
// code and their answer text.
#include "commands/bx_command.h"

#include "support/qor_util.h"

extern "C" {

int bx_cmd_defaulthandler(bx_session vsess, int, const char *) {
    qor_field_set(vsess->apitext, "text {invalid operation for this protocol}");
    return 5;
}

int bx_command(bx_session vsess, int cmd, const char *argval) {
    if (!vsess) return -7;
    // Handlers never see an empty argument: it means no argument.
    if (argval && !*argval) argval = nullptr;
    vsess->apitext[0] = '\0';
    bx_cmdhandler handler = vsess->commandhandler ? vsess->commandhandler : bx_cmd_defaulthandler;
    return handler(vsess, cmd, argval);
}

}  // extern "C"
