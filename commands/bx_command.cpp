// bx_command: the default command handler, the end of every session's
// chain of command handlers.  bx_init installs it; the protocol setups put
// their own handlers in front of it (bx_cmd_chain).  The script-facing
// bx_command lives in api/bx_api_command.
//
// Failure policy: nothing fails and nothing is logged; a refusal is
// answered with BX_INVALID and its text.
#include "commands/bx_command.h"

#include "support/qor_util.h"

extern "C" {

int bx_cmd_defaulthandler(bx_session vsess, int, const char *) {
    if (!vsess) return BX_UNINIT;
    qor_field_set(vsess->apitext, "text {invalid operation for this protocol}");
    return BX_INVALID;
}

}  // extern "C"
