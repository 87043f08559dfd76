// bx_cmd_nash: the Nashville command "phonenum", which shows, sets or
// resets the dial numbers of the "PHONENUM" state record.
#ifndef BRIX_COMMANDS_BX_CMD_NASH_H
#define BRIX_COMMANDS_BX_CMD_NASH_H

#include "session/bx_session.h"

#ifdef __cplusplus
extern "C" {
#endif

// Serves "phonenum" (no argument: show; "reset"; "primary", ",secondary"
// or "primary,secondary": set); passes other commands to the handler in
// dll.phonenumhandlerslot.
int bx_cmd_nash_phonenum(bx_session vsess, int cmd, const char *argval);
// 1 when the text holds no digit, else 0.
int no_digits(const char *text);
// Chains phonenum in front of the session's handler (the Nashville setup
// calls it).
void bx_cmd_nash_install(bx_session s);

#ifdef __cplusplus
}
#endif

#endif
