// bench/wizard/window_bench [ROUNDS]: the longest time the main window goes without handling its
// events while the real device check waits for simulated machines, on the system clock.
//
// A timer without interval fires every time the window's events are handled. The figure is the
// longest time between two firings, from the moment the check starts until the port dialog or the
// Retry/Cancel question opens (those run their own event loop) or the check returns. The platform
// is the one in force: offscreen unless QT_QPA_PLATFORM says otherwise; for a real X display run
//   QT_QPA_PLATFORM=xcb xvfb-run -a build/bench/wizard/window_bench
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include "app/VersionUpApp.h"
#include "device/PortDlg.h"
#include "tests/support/SimPorts.h"
#include "wizard/VersionUpDlg.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

class CGapMeter {
public:
    void Start() {
        m_times = {Clock::now()};
        m_bOn = true;
    }
    void Mark() {
        if (m_bOn)
            m_times.push_back(Clock::now());
    }
    void Stop() {
        Mark();
        m_bOn = false;
    }
    int Passes() const { return static_cast<int>(m_times.size()) - 2; }
    double Span() const { return m_times.size() < 2 ? 0 : Ms(m_times.back() - m_times.front()); }
    std::vector<double> Gaps() const {
        std::vector<double> gaps;
        for (size_t i = 1; i < m_times.size(); ++i)
            gaps.push_back(Ms(m_times[i] - m_times[i - 1]));
        std::sort(gaps.begin(), gaps.end());
        return gaps;
    }

private:
    std::vector<Clock::time_point> m_times;
    bool m_bOn = false;
};

struct CScenario {
    const char* m_pszName;
    std::string m_strPort; // the port name before the check; empty runs discovery
    std::vector<int> m_silent;
    int m_nMachine = 0; // the port with a machine that answers, 0 for none
};

// One check from the Next of the Connect step; the longest gap in milliseconds.
double RunRound(const CScenario& scenario, int nRound) {
    CSimPorts ports;
    for (int n : scenario.m_silent)
        ports.Machine(n, "", ENormalFault::Silent);
    if (scenario.m_nMachine)
        ports.Machine(scenario.m_nMachine);

    CGapMeter meter;
    CMachineLink link = GetMachineLink();
    link.m_fnCheckFirmwareVersion = [&, fnCheck = link.m_fnCheckFirmwareVersion](
                                        CWizardState& state, IOperator& op, const char* psz) {
        meter.Start();
        const bool bResult = fnCheck(state, op, psz);
        meter.Stop();
        return bResult;
    };
    CVersionUpDlg dlg(nullptr, link);
    dlg.show();
    dlg.GetState().m_strPort = scenario.m_strPort;
    dlg.GetSteps().Enter(EStep::Connect);

    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, &dlg, [&] {
        QWidget* pModal = QApplication::activeModalWidget();
        if (!pModal) {
            meter.Mark();
            return;
        }
        meter.Stop();
        if (auto* pBox = qobject_cast<QMessageBox*>(pModal))
            pBox->done(pBox->standardButtons() & QMessageBox::Cancel ? QMessageBox::Cancel
                                                                     : QMessageBox::Ok);
        else if (auto* pDialog = qobject_cast<QDialog*>(pModal))
            pDialog->reject();
    });
    timer.start(0);
    static_cast<QPushButton*>(dlg.GetControl(kIdNext))->click();
    timer.stop();

    const std::vector<double> gaps = meter.Gaps();
    const double dLongest = gaps.empty() ? 0 : gaps.back();
    std::printf("  round %d: %6.2f s waited, %7d event passes, gaps median %6.2f ms, 99th "
                "percentile %6.2f ms, longest %7.2f ms\n",
                nRound, meter.Span() / 1000, meter.Passes(),
                gaps.empty() ? 0 : gaps[gaps.size() / 2],
                gaps.empty() ? 0 : gaps[gaps.size() * 99 / 100], dLongest);
    return dLongest;
}

} // namespace

int main(int argc, char** argv) {
    const int nRounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    if (!getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    TestPortsDir();
    int nArgc = 1;
    QApplication app(nArgc, argv);
    KeepNoSettings();
    std::printf("platform %s, %d rounds each\n", qPrintable(QGuiApplication::platformName()),
                nRounds);

    const CScenario scenarios[] = {
        {"discovery, four silent ports", "", {1, 2, 3, 4}, 0},
        {"discovery, three silent ports, machine on COM4", "", {1, 2, 3}, 4},
        {"version query, silent machine on COM1", "COM1:", {1}, 0},
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
