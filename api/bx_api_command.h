// bx_api_command: the script-facing command operation, bx_command, which
// lives with the handler chain in commands/bx_command.
#ifndef BRIX_API_BX_API_COMMAND_H
#define BRIX_API_BX_API_COMMAND_H

#include "commands/bx_command.h"

#endif
