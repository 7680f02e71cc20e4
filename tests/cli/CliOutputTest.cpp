// versionup-cli as its own program with an output that goes wrong under it: a reader that goes
// away, a terminal nobody reads, a hang-up. The machine gets the whole built-in loader and a
// small package file all the same, and the exit status is the run's.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resources/Resources.h"
#include "serial/SerialPort.h"
#include "sim/BootMode.h"
#include "sim/MachineSim.h"
#include "tests/support/Files.h"
#include "tests/support/Packages.h"
#include "tests/support/SimPorts.h"
#include "tests/support/StuckTerminal.h"
#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"

namespace {

// The program on its own stdout and stderr, stdin /dev/null.
pid_t Start(const std::vector<std::string>& args, int nOut, int nErr) {
    std::vector<std::string> all = {VERSIONUP_CLI};
    all.insert(all.end(), args.begin(), args.end());
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int nNull = ::open("/dev/null", O_RDWR);
        ::dup2(nNull, STDIN_FILENO);
        ::dup2(nOut, STDOUT_FILENO);
        ::dup2(nErr, STDERR_FILENO);
        std::vector<char*> argv;
        for (std::string& strArg : all)
            argv.push_back(strArg.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        std::_Exit(127);
    }
    return pid;
}

int WaitExit(pid_t pid) {
    int nStatus = 0;
    ::waitpid(pid, &nStatus, 0);
    return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : 1000 + WTERMSIG(nStatus);
}

std::vector<uint8_t> Builtin(int nId) {
    const CResource resource = FindResource("BIN", nId);
    return {resource.m_pData, resource.m_pData + resource.m_nSize};
}

class CliOutputTest : public ::testing::Test {
protected:
    CliOutputTest() {
        TestPortsDir();
        m_ports.Absent(1);
        m_pBoot = StartBootMode(m_sim, TestPortsDir(), 1);
        WriteBytes(m_strPackage, m_package);
    }

    std::vector<std::string> Upgrade(std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {"upgrade", "--port",    "COM1",
                                         "--yes",   "--package", m_strPackage.string()};
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }
    ~CliOutputTest() override { m_sim.Stop(); }

    // The machine got the whole built-in loader and the package, and its port is free.
    void ExpectUpgraded() {
        ASSERT_TRUE(m_pBoot);
        EXPECT_EQ(m_pBoot->GetLoader(), Builtin(kIdLoader));
        const std::vector<uint8_t>& package = m_package;
        WaitUntil([&] { return m_pBoot->GetPackage().size() >= package.size(); });
        EXPECT_TRUE(m_pBoot->GetPackage() == package)
            << m_pBoot->GetPackage().size() << " of " << package.size() << " package bytes";
        CSerialPort port;
        EXPECT_EQ(port.Open("COM1:", 9600, "N81"), 1) << "port not free after the run";
    }

    CSimPorts m_ports;
    CMachineSim m_sim;
    CBootMode* m_pBoot = nullptr;
    CTempDir m_dir;
    // Several seconds on the line, so a signal finds the run sending.
    const std::vector<uint8_t> m_package = MakeSmallPackage(8000, 3);
    const std::filesystem::path m_strPackage = m_dir.Path() / "small.ufw";
};

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

TEST_F(CliOutputTest, AHangUpCancelsAndFreesThePortWith129) {
    ASSERT_TRUE(m_pBoot);
    const int nNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    const pid_t pid = Start(Upgrade(), nNull, nNull);
    ::close(nNull);
    ASSERT_TRUE(WaitUntil([&] { return m_pBoot->GetPackage().size() >= 1024; }));
    ::kill(pid, SIGHUP);
    EXPECT_EQ(WaitExit(pid), 129);
    EXPECT_LT(m_pBoot->GetPackage().size(), m_package.size());
    CSerialPort port;
    EXPECT_EQ(port.Open("COM1:", 9600, "N81"), 1) << "port not free after the hang-up";
}

TEST_F(CliOutputTest, ASecondInterruptEndsTheProgramAtOnce) {
    ASSERT_TRUE(m_pBoot);
    // The first Ctrl-C is being handled while the program waits for a terminal that is never
    // read; the second ends it the way Ctrl-C ends a program.
    CStuckTerminal terminal;
    ASSERT_TRUE(terminal.IsFull());
    const pid_t pid = Start(Upgrade(), terminal.GetSlave(), terminal.GetSlave());
    ASSERT_TRUE(WaitUntil([&] { return m_pBoot->GetPackage().size() >= 1024; }));
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
