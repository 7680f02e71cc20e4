// The whole built-in transfer against the simulated machine paced at the real baud rates: how
// close the wall time comes to what the line allows, and what share of a core the program
// takes meanwhile, without a wire trace and then with one. The machine runs in a child process
// so its work is not counted.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "resources/Resources.h"
#include "serial/WireTrace.h"
#include "sim/BootMode.h"
#include "sim/MachineSim.h"
#include "tests/support/QuietOperator.h"
#include "tests/support/SimPorts.h"
#include "tests/support/TempDir.h"
#include "transfer/Transfer.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

double CpuSeconds(const rusage& usage) {
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Notes when the loader and the package phases begin and end.
struct CPhaseTimes {
    int32_t m_nPackageStart = 0;
    Clock::time_point m_loaderStart, m_packageFirst, m_last;
    int m_nChecks = 0;
};

class CTimingSink : public IProgressSink {
public:
    explicit CTimingSink(CPhaseTimes& times) : m_times(times) {}
    int Create() override { return 1; }
    void SetMessage(const std::string&) override {}
    void SetRange(int32_t, int32_t) override {}
    int SetPos(int32_t nPos) override {
        const auto now = Clock::now();
        if (nPos == 0)
            m_times.m_loaderStart = now;
        if (nPos > m_times.m_nPackageStart && m_times.m_packageFirst == Clock::time_point{})
            m_times.m_packageFirst = now;
        m_times.m_last = now;
        return 0;
    }
    int CheckCancel() override {
        ++m_times.m_nChecks;
        return 0;
    }

private:
    CPhaseTimes& m_times;
};

class CBenchOperator : public CQuietOperator {
public:
    CBenchOperator(CPhaseTimes& times, IWireTrace* pTrace) : m_times(times), m_pTrace(pTrace) {}
    std::unique_ptr<IProgressSink> CreateProgress() override {
        return std::make_unique<CTimingSink>(m_times);
    }
    IWireTrace* GetWireTrace() override { return m_pTrace; }

private:
    CPhaseTimes& m_times;
    IWireTrace* m_pTrace;
};

// The machine's side: runs until the parent writes to the pipe, then reports what it received.
// Its answers take a cable's time; the program's own writes already wait for their wire time.
int RunMachine(const std::string& strPortsDir, int nReady, int nDone) {
    CMachineSim sim;
    CBootMode::CBehaviour behaviour;
    behaviour.m_bPaced = true;
    CBootMode* pMachine = StartBootMode(sim, strPortsDir, 1, behaviour);
    if (!pMachine)
        return 2;
    char c = 'r';
    if (::write(nReady, &c, 1) != 1)
        return 2;
    if (::read(nDone, &c, 1) != 1)
        return 2;
    // The last piece may still be on its way through the simulator.
    const CResource package = FindResource("BIN", kIdPackage);
    for (int i = 0; i < 200 && pMachine->GetPackage().size() < package.m_nSize; ++i)
        ::usleep(10000);
    const CResource loader = FindResource("BIN", kIdLoader);
    const auto got = pMachine->GetLoader();
    const auto pkg = pMachine->GetPackage();
    const bool bLoader =
        got.size() == loader.m_nSize && std::equal(got.begin(), got.end(), loader.m_pData);
    const bool bPackage =
        pkg.size() == package.m_nSize && std::equal(pkg.begin(), pkg.end(), package.m_pData);
    std::printf("machine: loader %s, package %s (%zu bytes), line settings %s\n",
                bLoader ? "intact" : "WRONG", bPackage ? "intact" : "WRONG", pkg.size(),
                pMachine->GetSettingsFaults().empty() ? "right" : "WRONG");
    std::fflush(stdout);
    sim.Stop();
    return bLoader && bPackage ? 0 : 1;
}

// One run against a fresh machine; true when it succeeded and the machine got everything.
bool RunOnce(const std::string& strPortsDir, bool bTrace) {
    std::printf("\n%s\n", bTrace ? "with a wire trace" : "without a trace");

    int toParent[2], toChild[2];
    if (::pipe(toParent) != 0 || ::pipe(toChild) != 0)
        return false;
    std::fflush(stdout);
    const pid_t pid = ::fork();
    if (pid == 0)
        std::_Exit(RunMachine(strPortsDir, toParent[1], toChild[0]));
    char c;
    if (::read(toParent[0], &c, 1) != 1)
        return false;

    const CResource loader = FindResource("BIN", kIdLoader);
    const CResource package = FindResource("BIN", kIdPackage);
    const double nL = double(loader.m_nSize);
    const double nP = double(package.m_nSize);
    CPhaseTimes times;
    times.m_nPackageStart = int32_t(8 * loader.m_nSize);
    CWireTrace trace;
    CBenchOperator op(times, bTrace ? &trace : nullptr);

    rusage before{}, after{};
    ::getrusage(RUSAGE_SELF, &before);
    const auto start = Clock::now();
    const int nResult = TransferFirmware("COM1:", nullptr, op);
    const auto end = Clock::now();
    ::getrusage(RUSAGE_SELF, &after);

    if (::write(toChild[1], &c, 1) != 1)
        return false;
    int nStatus = 0;
    ::waitpid(pid, &nStatus, 0);

    // What the line allows: at 10 bits a byte, the loader's exchange at 9600 (the sync byte and
    // its answer, 0x55 and 0xAA, two length bytes and every loader byte each with its echo, the
    // final 0xAA), the package at 38400, and the pauses of 500, 1000 and 1000 ms.
    const double fLoaderWire = (2 + 2 + 2 * 2 + 2 * nL + 1) * 10 / 9600;
    const double fPackageWire = nP * 10 / 38400;
    const double fPauses = 2.5;
    const double fWire = fLoaderWire + fPackageWire + fPauses;
    const double fWall = Seconds(end - start);
    const double fCpu = CpuSeconds(after) - CpuSeconds(before);
    const double fLoaderWall = Seconds(times.m_packageFirst - times.m_loaderStart) - 1.0;
    const double fPackageWall = Seconds(times.m_last - times.m_packageFirst);

    std::printf("result %d; loader %.0f bytes, package %.0f bytes\n", nResult, nL, nP);
    std::printf("wall   %.3f s against the wire limit %.3f s: %+.2f %%\n", fWall, fWire,
                100 * (fWall - fWire) / fWire);
    std::printf("  loader upload  %.3f s (wire %.3f s)\n", fLoaderWall, fLoaderWire);
    std::printf("  package send   %.3f s (wire %.3f s, to the last piece handed over)\n",
                fPackageWall, fPackageWire);
    std::printf("cpu    %.3f s = %.2f %% of one core over the run (%d cancel checks)\n", fCpu,
                100 * fCpu / fWall, times.m_nChecks);
    std::printf("ratio  %.4f of the wire limit\n", fWall / fWire);
    if (bTrace) {
        const auto formatStart = Clock::now();
        const std::string strText = trace.Format();
        std::printf("trace  %zu bytes of text, formatted in %.3f s after the run\n", strText.size(),
                    Seconds(Clock::now() - formatStart));
    }
    for (int fd : {toParent[0], toParent[1], toChild[0], toChild[1]})
        ::close(fd);
    return nResult == 1 && WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0;
}

} // namespace

int main() {
    const CPortsHome home;
    const std::string strPortsDir = home.GetPortsDir();
    const bool bPlain = RunOnce(strPortsDir, false);
    const bool bTraced = RunOnce(strPortsDir, true);
    return bPlain && bTraced ? 0 : 1;
}
