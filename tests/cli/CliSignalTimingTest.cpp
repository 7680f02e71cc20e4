// versionup-cli's second Ctrl-C while its first is still being handled: the program waits for a
// terminal nobody reads for the output writer's stall limit (2 s of real time), and the second
// interrupt must come within it.
#include "tests/cli/CliOutputFixture.h"
#include "tests/support/StuckTerminal.h"

namespace {

TEST_F(CliHeldRunTest, ASecondInterruptEndsTheProgramAtOnce) {
    // The first Ctrl-C is being handled while the program waits for a terminal that is never
    // read; the second ends it the way Ctrl-C ends a program.
    CStuckTerminal terminal;
    ASSERT_TRUE(terminal.IsFull());
    const pid_t pid = Start(Upgrade(), terminal.GetSlave(), terminal.GetSlave());
    ASSERT_TRUE(WaitForHold());
    ::kill(pid, SIGINT);
    // The run has ended and closed its port; the program still waits for its output.
    ASSERT_TRUE(WaitUntil([] {
        CSerialPort port;
        return port.Open("COM1:", 9600, "N81") == 1;
    }));
    ::kill(pid, SIGINT);
    EXPECT_EQ(WaitExit(pid), 1000 + SIGINT);
}

} // namespace
