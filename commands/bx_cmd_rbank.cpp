// bx_cmd_rbank: placeholder handlers; the chain is real.
#include "commands/bx_cmd_rbank.h"

#include "commands/bx_command.h"

extern "C" {

int bx_cmd_rbank_receipt(bx_session s, int cmd, const char *argval) {
    return bx_cmd_pass(s, &_dll::receipthandlerslot, cmd, argval);
}

int bx_cmd_rbank_init(bx_session s, int cmd, const char *argval) {
    return bx_cmd_pass(s, &_dll::inithandlerslot, cmd, argval);
}

void bx_cmd_rbank_install(bx_session s) {
    bx_cmd_chain(s, bx_cmd_rbank_init, &_dll::inithandlerslot);
    bx_cmd_chain(s, bx_cmd_rbank_receipt, &_dll::receipthandlerslot);
    _dll_flags &f = s->dll.flags;
    f.needs_init = 0;
    f.needs_init_time = 0;
    f.needs_init_valid = 0;
    f.needs_init_lockfd = -1;
    s->dll.ranges.valid = 0;
    s->dll.ranges.numranges = 0;
}

}  // extern "C"
