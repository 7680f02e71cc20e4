// bench/qt/window_bench [ROUNDS]: the longest time the main window goes without handling its
// events while it runs the real device check or the real transfer against simulated machines, on
// the system clock.
//
// A precise timer of 1 ms fires each time the window's thread handles its events, in its own loop
// and in the loop of any dialog the run opens (the port dialog, a message box, the progress
// dialog). The figure is the longest time between two firings, from the press of Next until the
// run on the worker has ended. Dialogs are answered at once: Cancel where there is one, else OK.
// The platform is the one in force: offscreen unless QT_QPA_PLATFORM says otherwise; for a real
// X display run
//   QT_QPA_PLATFORM=xcb xvfb-run -a build/bench/qt/window_bench
#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "qt/PortDlg.h"
#include "qt/VersionUpApp.h"
#include "qt/VersionUpDlg.h"
#include "sim/BootMode.h"
#include "sim/MachineSim.h"
#include "tests/support/SimPorts.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

struct CScenario {
    const char* m_pszName;
    std::string m_strPort; // the port name before the run; empty runs discovery
    std::vector<int> m_silent;
    int m_nMachine = 0;       // the port with a machine that answers the query, 0 for none
    bool m_bTransfer = false; // a machine in boot mode on COM1, and Next on Plug-adapter
    const char* m_pszReply = "V250 TVK-50;"; // the machine's
};

// One run from a Next; the longest gap in milliseconds.
double RunRound(const CScenario& scenario, int nRound) {
    CSimPorts ports;
    for (int n : scenario.m_silent)
        ports.Machine(n, "", ENormalFault::Silent);
    if (scenario.m_nMachine)
        ports.Machine(scenario.m_nMachine, scenario.m_pszReply);
    CMachineSim bootSim;
    if (scenario.m_bTransfer && !StartBootMode(bootSim, TestPortsDir(), 1)) {
        std::fprintf(stderr, "window_bench: the simulated machine did not start\n");
        std::exit(1);
    }

    CVersionUpDlg dlg;
    dlg.show();
    dlg.GetState().m_strPort = scenario.m_strPort;
    dlg.GetSteps().Enter(scenario.m_bTransfer ? EStep::PlugAdapter : EStep::Connect);

    // The bench's own loop stands for the program's, which runs the window modal.
    QEventLoop loop;
    std::vector<Clock::time_point> times;
    times.reserve(200'000);
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    // When the first box came up: what the operator waits for after Next.
    Clock::time_point firstBox{};
    QObject::connect(&timer, &QTimer::timeout, &dlg, [&] {
        times.push_back(Clock::now());
        if (!dlg.IsBusy())
            loop.quit();
        QWidget* pModal = QApplication::activeModalWidget();
        if (pModal && firstBox == Clock::time_point{})
            firstBox = times.back();
        if (auto* pBox = qobject_cast<QMessageBox*>(pModal))
            pBox->done(pBox->standardButtons() & QMessageBox::Cancel ? QMessageBox::Cancel
                                                                     : QMessageBox::Ok);
        else if (auto* pPortDlg = qobject_cast<CPortDlg*>(pModal))
            pPortDlg->reject();
    });
    timer.start(1);
    times.push_back(Clock::now());
    static_cast<QPushButton*>(dlg.GetControl(kIdNext))->click();
    loop.exec();
    timer.stop();
    bootSim.Stop();

    std::vector<double> gaps;
    for (size_t i = 1; i < times.size(); ++i)
        gaps.push_back(Ms(times[i] - times[i - 1]));
    std::sort(gaps.begin(), gaps.end());
    const double dLongest = gaps.back();
    std::printf("  round %d: %6.2f s run, %7zu firings, gaps median %5.2f ms, 99th percentile "
                "%5.2f ms, longest %7.2f ms\n",
                nRound, Ms(times.back() - times.front()) / 1000, times.size() - 1,
                gaps[gaps.size() / 2], gaps[gaps.size() * 99 / 100], dLongest);
    if (firstBox != Clock::time_point{})
        std::printf("           first box %6.2f s after Next\n",
                    Ms(firstBox - times.front()) / 1000);
    return dLongest;
}

} // namespace

int main(int argc, char** argv) {
    const int nRounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2;
    if (!getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    TestPortsDir();
    int nArgc = 1;
    QApplication app(nArgc, argv);
    KeepNoSettings();
    std::printf("platform %s, %d rounds each\n", qPrintable(QGuiApplication::platformName()),
                nRounds);

    const CScenario scenarios[] = {
        {"discovery, four silent ports", "", {1, 2, 3, 4}, 0, false},
        {"discovery, three silent ports, machine on COM4", "", {1, 2, 3}, 4, false},
        {"discovery, four silent ports and two above COM4", "", {1, 2, 3, 4, 5, 6}, 0, false},
        {"discovery, four silent ports, machine on COM7", "", {1, 2, 3, 4}, 7, false},
        // The ports above COM4 are asked at once: the box comes after one silent port's time.
        {"discovery, COM1 to COM4 absent, eleven silent ports above, machine on COM16 "
         "(Upgrade unnecessary.)",
         "",
         {5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15},
         16,
         false,
         "V260 TVK-50;"},
        {"version query, silent machine on COM1", "COM1:", {1}, 0, false},
        {"transfer of the built-in loader and package on COM1", "COM1:", {}, 0, true},
    };
    for (const CScenario& scenario : scenarios) {
        std::printf("%s\n", scenario.m_pszName);
        double dLongest = 0;
        for (int n = 1; n <= nRounds; ++n)
            dLongest = std::max(dLongest, RunRound(scenario, n));
        std::printf("  longest gap in event handling: %.2f ms\n", dLongest);
    }
    return 0;
}
