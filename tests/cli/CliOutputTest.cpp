// versionup-cli as its own program with an output that goes wrong under it: a reader that goes
// away, a terminal nobody reads, a hang-up. The machine gets the whole built-in loader and a
// small package file all the same, and the exit status is the run's.
#include "tests/cli/CliOutputFixture.h"
#include "tests/support/StuckTerminal.h"

namespace {

TEST_F(CliOutputTest, AReaderThatLeavesAfterOneLineEndsNoRun) {
    ASSERT_TRUE(m_pBoot);
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const pid_t pid = Start(Upgrade({"--json"}), pipeFds[1], 2);
    ::close(pipeFds[1]);
    // `| head -n 1`: one line, then the reader is gone.
    std::string strLine;
    char c = 0;
    while (::read(pipeFds[0], &c, 1) == 1 && c != '\n')
        strLine += c;
    ::close(pipeFds[0]);
    EXPECT_EQ(strLine.rfind(R"({"event":"start","port":"COM1")", 0), 0u) << strLine;
    EXPECT_EQ(WaitExit(pid), 0) << "the exit status is the run's";
    ExpectUpgraded();
}

TEST_F(CliOutputTest, ATerminalNobodyReadsHoldsBackNoMachine) {
    ASSERT_TRUE(m_pBoot);
    CStuckTerminal terminal;
    ASSERT_TRUE(terminal.IsFull());
    const pid_t pid = Start(Upgrade(), terminal.GetSlave(), terminal.GetSlave());
    EXPECT_EQ(WaitExit(pid), 0);
    ExpectUpgraded();
}

TEST_F(CliOutputTest, InspectOnATerminalNobodyReadsStillEndsWithItsVerdict) {
    // Well-formed and malformed: the report goes to stdout, the fault to stderr, both stuck.
    std::vector<uint8_t> malformed = m_package;
    malformed.resize(malformed.size() / 2);
    const std::filesystem::path strMalformed = m_dir.Path() / "cut.ufw";
    WriteBytes(strMalformed, malformed);
    for (const auto& [strPath, nExit] :
         {std::pair{m_strPackage.string(), 0}, std::pair{strMalformed.string(), 1}}) {
        SCOPED_TRACE(strPath);
        CStuckTerminal terminal;
        ASSERT_TRUE(terminal.IsFull());
        const pid_t pid = Start({"inspect", strPath}, terminal.GetSlave(), terminal.GetSlave());
        int nStatus = 0;
        const bool bEnded =
            WaitUntil([&] { return ::waitpid(pid, &nStatus, WNOHANG) == pid; }, 120000);
        if (!bEnded) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &nStatus, 0);
        }
        ASSERT_TRUE(bEnded) << "inspect waited for the terminal";
        ASSERT_TRUE(WIFEXITED(nStatus));
        EXPECT_EQ(WEXITSTATUS(nStatus), nExit);
    }
}

TEST_F(CliHeldRunTest, AHangUpCancelsAndFreesThePortWith129) {
    const int nNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    const pid_t pid = Start(Upgrade(), nNull, nNull);
    ::close(nNull);
    ASSERT_TRUE(WaitForHold());
    ::kill(pid, SIGHUP);
    EXPECT_EQ(WaitExit(pid), 129);
    EXPECT_LT(m_pBoot->GetPackage().size(), m_package.size());
    CSerialPort port;
    EXPECT_EQ(port.Open("COM1:", 9600, "N81"), 1) << "port not free after the hang-up";
}

} // namespace
