// How much processor time the device check burns while it waits: the version query on a silent
// machine (3 to 4 s) and discovery over four silent ports (4 to 8 s). The waits poll the link, so
// this must stay near zero rather than a whole core.
#include <time.h>

#include <chrono>
#include <cstdio>

#include "device/DeviceCheck.h"
#include "frontend/WizardState.h"
#include "tests/support/ScriptedOperator.h"
#include "tests/support/SimPorts.h"

namespace {

double CpuSeconds(clockid_t nClock) {
    timespec ts{};
    clock_gettime(nClock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

template <typename F> void Measure(const char* pszWhat, F&& run) {
    double dProcess = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
    double dThread = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
    auto start = std::chrono::steady_clock::now();
    run();
    double dWall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    dProcess = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - dProcess;
    dThread = CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - dThread;
    std::printf("%-44s wall %6.2f s  cpu %6.3f s (%5.2f %% of a core; polling thread %.3f s)\n",
                pszWhat, dWall, dProcess, 100.0 * dProcess / dWall, dThread);
}

} // namespace

int main() {
    TestPortsDir();
    {
        CSimPorts ports;
        ports.Machine(1, "", ENormalFault::Silent);
        Measure("version query, silent machine", [] {
            CScriptedOperator op;
            CWizardState state;
            state.m_strPort = "COM1:";
            CheckFirmwareVersion(state, op, "V260");
        });
    }
    {
        CSimPorts ports;
        for (int n = 1; n <= 4; ++n)
            ports.Machine(n, "", ENormalFault::Silent);
        Measure("discovery, four silent ports", [] {
            CScriptedOperator op;
            CWizardState state;
            DiscoverPort(state, op);
        });
    }
    {
        CSimPorts ports;
        ports.Machine(1);
        Measure("version query, machine answering", [] {
            CScriptedOperator op;
            CWizardState state;
            state.m_strPort = "COM1:";
            CheckFirmwareVersion(state, op, "V260");
        });
    }
    return 0;
}
