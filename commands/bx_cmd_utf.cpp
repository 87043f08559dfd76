// bx_cmd_utf: placeholder handler; the chain is real.
#include "commands/bx_cmd_utf.h"

#include "commands/bx_command.h"

extern "C" {

int bx_cmd_utf_resend(bx_session s, int cmd, const char *argval) {
    return bx_cmd_pass(s, &_dll::resendhandlerslot, cmd, argval);
}

void bx_cmd_utf_install(bx_session s) { bx_cmd_chain(s, bx_cmd_utf_resend, &_dll::resendhandlerslot); }

}  // extern "C"
