// bx_cmd_nash: placeholder handler; the chain is real.
#include "commands/bx_cmd_nash.h"

#include "commands/bx_command.h"

extern "C" {

int bx_cmd_nash_phonenum(bx_session s, int cmd, const char *argval) {
    return bx_cmd_pass(s, &_dll::phonenumhandlerslot, cmd, argval);
}

int no_digits(const char *text) {
    for (; text && *text; text++)
        if (*text >= '0' && *text <= '9') return 0;
    return 1;
}

void bx_cmd_nash_install(bx_session s) {
    bx_cmd_chain(s, bx_cmd_nash_phonenum, &_dll::phonenumhandlerslot);
}

}  // extern "C"
