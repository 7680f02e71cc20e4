#pragma once
// versionup-cli as its own program against a simulated machine, with its output wherever the test
// puts it: what the output and signal tests share.
#include <fcntl.h>
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
#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"

// The program on its own stdout and stderr, stdin /dev/null.
inline pid_t Start(const std::vector<std::string>& args, int nOut, int nErr) {
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

inline int WaitExit(pid_t pid) {
    int nStatus = 0;
    ::waitpid(pid, &nStatus, 0);
    return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : 1000 + WTERMSIG(nStatus);
}

inline std::vector<uint8_t> Builtin(int nId) {
    const CResource resource = FindResource("BIN", nId);
    return {resource.m_pData, resource.m_pData + resource.m_nSize};
}

class CliOutputTest : public ::testing::Test {
protected:
    explicit CliOutputTest(CBootMode::CBehaviour behaviour = {}) {
        TestPortsDir();
        m_ports.Absent(1);
        m_pBoot = StartBootMode(m_sim, TestPortsDir(), 1, behaviour);
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
    const std::vector<uint8_t> m_package = MakeSmallPackage(8000, 3);
    const std::filesystem::path m_strPackage = m_dir.Path() / "small.ufw";
};

// A machine that holds the line for a while once it has 1,024 package bytes, so a signal sent
// when the hold is seen finds the run still sending, however busy the computer.
class CliHeldRunTest : public CliOutputTest {
protected:
    CliHeldRunTest() : CliOutputTest(Holding()) {}
    static CBootMode::CBehaviour Holding() {
        CBootMode::CBehaviour behaviour;
        behaviour.m_nStallAtPackageByte = 1024;
        behaviour.m_nStallMs = 5000;
        return behaviour;
    }
    bool WaitForHold() {
        return m_pBoot && WaitUntil([&] { return m_pBoot->HasHeldLine(); }, 30000);
    }
};
