// versionup-cli upgrading one machine, then four at once, the whole built-in loader and package
// on simulated lines paced at the real baud rates; then one machine with its output going to a
// pipe closed after one line and to a terminal nobody reads. Four lines at once should take no
// longer than one (the ports do not wait for each other), and the program should spend its time
// waiting for the lines, not on the processor. The machines run in a process of their own so their
// work is not counted; the program's own CPU time comes from the kernel's account of it.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "resources/Resources.h"
#include "sim/BootMode.h"
#include "sim/MachineSim.h"
#include "tests/support/SimPorts.h"
#include "tests/support/StuckTerminal.h"
#include "tests/support/TempDir.h"

namespace {

using Clock = std::chrono::steady_clock;

// Machines on COM1..COMn until the parent writes to the pipe; exit 0 when every one got the
// built-in loader and package byte for byte.
int RunMachines(const std::string& strPortsDir, int nCount, int nReady, int nDone) {
    std::array<CMachineSim, 4> sims;
    std::vector<CBootMode*> machines;
    for (int n = 1; n <= nCount; ++n) {
        CBootMode::CBehaviour behaviour;
        behaviour.m_bPaced = true;
        CBootMode* pMachine = StartBootMode(sims[n - 1], strPortsDir, n, behaviour);
        if (!pMachine)
            return 2;
        machines.push_back(pMachine);
    }
    char c = 'r';
    if (::write(nReady, &c, 1) != 1 || ::read(nDone, &c, 1) != 1)
        return 2;
    const CResource loader = FindResource("BIN", kIdLoader);
    const CResource package = FindResource("BIN", kIdPackage);
    bool bAll = true;
    for (CBootMode* pMachine : machines) {
        for (int i = 0; i < 200 && pMachine->GetPackage().size() < package.m_nSize; ++i)
            ::usleep(10000);
        const auto got = pMachine->GetLoader();
        const auto pkg = pMachine->GetPackage();
        bAll = bAll && got.size() == loader.m_nSize &&
               std::equal(got.begin(), got.end(), loader.m_pData) &&
               pkg.size() == package.m_nSize && std::equal(pkg.begin(), pkg.end(), package.m_pData);
    }
    for (CMachineSim& sim : sims)
        sim.Stop();
    return bAll ? 0 : 1;
}

struct CRun {
    bool m_bOk = false;
    double m_fWall = 0;
    double m_fCpu = 0;
};

double CpuSeconds(const rusage& usage) {
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Where the program's output goes.
enum class EOutputCase {
    Null,         // /dev/null
    ClosedPipe,   // a pipe whose reader leaves after the first line (`| head -n 1`)
    StuckTerminal // a terminal whose buffer is full and nobody reads
};

CRun Upgrade(const std::string& strPortsDir, int nCount, EOutputCase eOutput = EOutputCase::Null) {
    CRun run;
    int outPipe[2] = {-1, -1};
    std::unique_ptr<CStuckTerminal> pTerminal;
    if (eOutput == EOutputCase::StuckTerminal) {
        pTerminal = std::make_unique<CStuckTerminal>();
        if (!pTerminal->IsFull())
            return run;
    }
    int toParent[2], toChild[2];
    if (::pipe(toParent) != 0 || ::pipe(toChild) != 0)
        return run;
    std::fflush(stdout);
    const pid_t machines = ::fork();
    if (machines == 0)
        std::_Exit(RunMachines(strPortsDir, nCount, toParent[1], toChild[0]));
    char c;
    if (::read(toParent[0], &c, 1) != 1)
        return run;

    std::vector<std::string> args = {VERSIONUP_CLI, "upgrade", "--yes"};
    for (int n = 1; n <= nCount; ++n) {
        args.push_back("--port");
        args.push_back("COM" + std::to_string(n));
    }
    // Made now, so that only the program holds the pipe's writing end.
    if (eOutput == EOutputCase::ClosedPipe && ::pipe2(outPipe, O_CLOEXEC) != 0)
        return run;
    const auto start = Clock::now();
    const pid_t cli = ::fork();
    if (cli == 0) {
        const int nNull = ::open("/dev/null", O_RDWR);
        ::dup2(nNull, STDIN_FILENO);
        ::dup2(eOutput == EOutputCase::ClosedPipe      ? outPipe[1]
               : eOutput == EOutputCase::StuckTerminal ? pTerminal->GetSlave()
                                                       : nNull,
               STDOUT_FILENO);
        if (eOutput == EOutputCase::StuckTerminal)
            ::dup2(pTerminal->GetSlave(), STDERR_FILENO);
        std::vector<char*> argv;
        for (std::string& strArg : args)
            argv.push_back(strArg.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        std::_Exit(127);
    }
    if (eOutput == EOutputCase::ClosedPipe) {
        ::close(outPipe[1]);
        char cOut = 0;
        while (::read(outPipe[0], &cOut, 1) == 1 && cOut != '\n') {
        }
        ::close(outPipe[0]);
    }
    int nStatus = 0;
    rusage usage{};
    ::wait4(cli, &nStatus, 0, &usage);
    run.m_fWall = std::chrono::duration<double>(Clock::now() - start).count();
    run.m_fCpu = CpuSeconds(usage);

    int nMachines = 0;
    if (::write(toChild[1], &c, 1) != 1)
        return run;
    ::waitpid(machines, &nMachines, 0);
    for (int fd : {toParent[0], toParent[1], toChild[0], toChild[1]})
        ::close(fd);
    run.m_bOk = WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0 && WIFEXITED(nMachines) &&
                WEXITSTATUS(nMachines) == 0;
    return run;
}

} // namespace

int main() {
    const CPortsHome home;
    const std::string strPortsDir = home.GetPortsDir();

    const CRun one = Upgrade(strPortsDir, 1);
    std::printf("one machine:   %s, wall %.3f s, cpu %.3f s = %.2f %% of one core\n",
                one.m_bOk ? "upgraded" : "FAILED", one.m_fWall, one.m_fCpu,
                100 * one.m_fCpu / one.m_fWall);
    std::fflush(stdout);
    const CRun four = Upgrade(strPortsDir, 4);
    std::printf("four machines: %s, wall %.3f s, cpu %.3f s = %.2f %% of one core\n",
                four.m_bOk ? "all upgraded" : "FAILED", four.m_fWall, four.m_fCpu,
                100 * four.m_fCpu / four.m_fWall);
    std::printf("four against one: wall %.3f (target at most 1.03); cpu %.2f %% of one core for "
                "all four (target under 5 %%)\n",
                four.m_fWall / one.m_fWall, 100 * four.m_fCpu / four.m_fWall);
    // What a reader that goes away or never reads costs the machines: nothing, and the program
    // still ends (after at most the writer's stall limit on a stuck terminal).
    const CRun closed = Upgrade(strPortsDir, 1, EOutputCase::ClosedPipe);
    std::printf("output closed after one line: %s, wall %.3f s (%.3f s against /dev/null)\n",
                closed.m_bOk ? "upgraded, exit 0" : "FAILED", closed.m_fWall, one.m_fWall);
    std::fflush(stdout);
    const CRun stuck = Upgrade(strPortsDir, 1, EOutputCase::StuckTerminal);
    std::printf("terminal never read:          %s, wall %.3f s (%.3f s against /dev/null)\n",
                stuck.m_bOk ? "upgraded, exit 0" : "FAILED", stuck.m_fWall, one.m_fWall);
    return one.m_bOk && four.m_bOk && closed.m_bOk && stuck.m_bOk ? 0 : 1;
}
