// Command dispatch: every command that no handler of a protocol's chain
// serves reaches the default handler, with any argument.
#include "tests/commands/commands_fixture.h"
#include "validate/bx_val.h"

using ctest::Commands;

namespace {

TEST_F(Commands, DefaultHandlerRefusesWhatNoHandlerServes) {
    EXPECT_EQ(bx_command(nullptr, BX_CMD_CANCEL, nullptr), -7);
    const struct {
        void (*setup)(bx_session);
        int cmd;
    } served[] = {{bx_val_rbank_setup, BX_CMD_INITIALIZE}, {bx_val_rbank_setup, BX_CMD_RECEIPT},
                  {bx_val_utf_setup, BX_CMD_RESEND}, {bx_val_nash_setup, BX_CMD_PHONENUM}};
    for (const bx_val_protocol &p : bx_val_protocols) {
        open_protocol(p.name);
        for (int cmd = 0; cmd <= 6; cmd++) {
            bool serves = false;
            for (const auto &sv : served) serves = serves || (sv.setup == p.setup && sv.cmd == cmd);
            if (serves) continue;
            for (const char *arg : {"x", "", (const char *)nullptr}) {
                strcpy(s->apitext, "earlier answer");
                EXPECT_EQ(bx_command(s, cmd, arg), 5) << p.name << " " << cmd;
                EXPECT_STREQ(s->apitext, "text {invalid operation for this protocol}");
            }
        }
    }
}

}  // namespace
