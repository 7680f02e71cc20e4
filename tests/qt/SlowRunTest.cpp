// The transfer through the simulated machine with the real progress dialog and the real pauses,
// where the line's own time makes a run long: the whole built-in loader and package (about
// 40 s), and a machine that holds the line while the operator presses Cancel (a few seconds).
#include <QElapsedTimer>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "frontend/ForwardingOperator.h"
#include "qt/ProgressDlg.h"
#include "qt/WindowCalls.h"
#include "resources/Resources.h"
#include "serial/SerialPort.h"
#include "sim/BootMode.h"
#include "sim/MachineSim.h"
#include "tests/support/Files.h"
#include "tests/support/QuietOperator.h"
#include "tests/support/ResourceOverride.h"
#include "tests/support/SimPorts.h"
#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"
#include "transfer/Transfer.h"

namespace {

// The real dialog, with every position and the percent label it then showed written down.
class CWatchedDialog : public IProgressSink {
public:
    CWatchedDialog(QWidget* pMainWindow, std::vector<std::pair<int32_t, QString>>& positions,
                   std::vector<std::pair<int32_t, int32_t>>& ranges)
        : m_dlg(0, pMainWindow), m_positions(positions), m_ranges(ranges) {}
    int Create() override { return m_dlg.Create(); }
    void SetMessage(const std::string& strText) override { m_dlg.SetMessage(strText); }
    void SetRange(int32_t nLower, int32_t nUpper) override {
        m_ranges.emplace_back(nLower, nUpper);
        m_dlg.SetRange(nLower, nUpper);
    }
    int SetPos(int32_t nPos) override {
        const int nResult = m_dlg.SetPos(nPos);
        m_positions.emplace_back(nPos, m_dlg.GetPercentText());
        return nResult;
    }
    int CheckCancel() override { return m_dlg.CheckCancel(); }

private:
    CProgressDlg m_dlg;
    std::vector<std::pair<int32_t, QString>>& m_positions;
    std::vector<std::pair<int32_t, int32_t>>& m_ranges;
};

// The operator as the window gives it, with the dialog watched.
class CWatchingOperator : public CQuietOperator {
public:
    explicit CWatchingOperator(QWidget* pMainWindow) : m_pMainWindow(pMainWindow) {}
    int ShowMessage(const CMessage&) override {
        ++m_nMessages;
        return kIdOk;
    }
    std::unique_ptr<IProgressSink> CreateProgress() override {
        return std::make_unique<CWatchedDialog>(m_pMainWindow, m_positions, m_ranges);
    }

    std::vector<std::pair<int32_t, QString>> m_positions;
    std::vector<std::pair<int32_t, int32_t>> m_ranges;
    int m_nMessages = 0;

private:
    QWidget* m_pMainWindow;
};

// The operator as the window gives it to a transfer on its worker: the real dialog, owned by the
// main window, behind the forwarding operator both windows use.
class CLinkOperator : public CQuietOperator {
public:
    explicit CLinkOperator(QWidget* pMainWindow)
        : m_calls(pMainWindow), m_pMainWindow(pMainWindow),
          m_worker(*this, m_calls, AbandonProgressDlg) {}
    std::unique_ptr<IProgressSink> CreateProgress() override {
        return std::make_unique<CProgressDlg>(0, m_pMainWindow);
    }
    IOperator& Worker() { return m_worker; }

private:
    CQtWindowCalls m_calls;
    QWidget* m_pMainWindow;
    CForwardingOperator m_worker;
};

} // namespace

class SlowRunTest : public QObject {
    Q_OBJECT
private slots:
    void builtInLoaderAndPackageReachTheMachine();
    void cancelEndsAWriteTheMachineHolds();
};

void SlowRunTest::builtInLoaderAndPackageReachTheMachine() {
    const CResource loader = FindResource("BIN", kIdLoader);
    const CResource package = FindResource("BIN", kIdPackage);
    QVERIFY(loader && package);
    const int32_t nL = int32_t(loader.m_nSize);
    const int32_t nP = int32_t(package.m_nSize);

    CPortsHome home;
    CMachineSim sim;
    CBootMode* pMachine = StartBootMode(sim, home.GetPortsDir(), 1);
    QVERIFY(pMachine);

    QWidget mainWindow;
    mainWindow.show();
    CWatchingOperator op(&mainWindow);
    QCOMPARE(TransferFirmware("COM1:", nullptr, op), 1);
    QVERIFY(mainWindow.isEnabled());
    QCOMPARE(op.m_nMessages, 0);

    QCOMPARE(pMachine->GetLoader(), BuiltinBytes(kIdLoader));
    QVERIFY(WaitUntil([&] { return pMachine->GetPackage().size() >= size_t(nP); }));
    QCOMPARE(pMachine->GetPackage(), BuiltinBytes(kIdPackage));
    QCOMPARE(pMachine->GetSettingsFaults(), std::vector<std::string>{});
    QVERIFY(pMachine->GetLoaderChecks() > 0 && pMachine->GetPackageChecks() > 0);

    // With the stand-in images: 0 to 24,504 in steps of 8 over the loader, ending at 143,170.
    QCOMPARE(op.m_ranges.size(), size_t(2));
    QCOMPARE(op.m_ranges[1], std::make_pair(0, nP + 8 * nL - 1));
    QVERIFY(op.m_positions.size() > size_t(nL));
    for (int32_t i = 0; i < nL; ++i)
        QCOMPARE(op.m_positions[size_t(i)].first, 8 * i);
    QCOMPARE(op.m_positions.back().first, 8 * nL + nP);
    QCOMPARE(op.m_positions.back().second, QString("100%"));
    if (nL == 3064 && nP == 118658) {
        QCOMPARE(op.m_positions[size_t(nL - 1)].first, 24504);
        QCOMPARE(op.m_positions[size_t(nL - 1)].second, QString("17%"));
        QCOMPARE(op.m_positions.back().first, 143170);
        QCOMPARE(op.m_positions.size(), size_t(3064 + 464));
    }
    sim.Stop();
}

void SlowRunTest::cancelEndsAWriteTheMachineHolds() {
    // The machine holds the line from the package's first byte for 20 s; the operator presses
    // the dialog's Cancel once the machine holds it. How long a hold may last is judged on the
    // scripted adapter's clock (TransferHoldTest); here the real dialog's Cancel reaches a held
    // write.
    CResourceOverride resources;
    resources.Replace("BIN", kIdLoader, MakeBytes(16, 1));
    resources.Replace("BIN", kIdPackage, MakeBytes(2000, 2));

    CPortsHome home;
    CMachineSim sim;
    CBootMode::CBehaviour behaviour;
    behaviour.m_nStallAtPackageByte = 0;
    behaviour.m_nStallMs = 20000;
    CBootMode* pMachine = StartBootMode(sim, home.GetPortsDir(), 1, behaviour);
    QVERIFY(pMachine);
    const std::string strDevice = sim.GetLink().GetDevicePath();
    const int nSimFds = CountDeviceFds(strDevice);

    QWidget mainWindow;
    mainWindow.show();
    CLinkOperator op(&mainWindow);
    QElapsedTimer sinceCancel;
    QTimer pressWhenHeld;
    QObject::connect(&pressWhenHeld, &QTimer::timeout, [&] {
        if (sinceCancel.isValid() || !pMachine->HasHeldLine())
            return;
        for (QWidget* pWidget : QApplication::topLevelWidgets()) {
            if (auto* pDlg = dynamic_cast<CProgressDlg*>(pWidget)) {
                pDlg->GetCancelButton()->click();
                sinceCancel.start();
            }
        }
    });
    pressWhenHeld.start(10);
    // The window's thread goes on with its events, the Cancel among them, while the transfer
    // runs on a worker as the wizard runs it.
    std::atomic<bool> bEnded{false};
    int nResult = -1;
    std::thread worker([&] {
        nResult = TransferFirmware("COM1:", nullptr, op.Worker());
        bEnded = true;
    });
    static_cast<void>(QTest::qWaitFor([&] { return bEnded.load(); }, 120'000));
    worker.join();
    QCOMPARE(nResult, 0);
    QVERIFY(sinceCancel.isValid());
    QVERIFY(pMachine->HasHeldLine());
    // Well before the hold's end: the Cancel ended the write, not the machine.
    QVERIFY2(sinceCancel.elapsed() < 5000, qPrintable(QString::number(sinceCancel.elapsed())));
    QVERIFY(mainWindow.isEnabled());
    QCOMPARE(CountDeviceFds(strDevice), nSimFds);
    QVERIFY(pMachine->GetPackage().size() < 2000);
    CSerialPort port;
    QCOMPARE(port.Open("COM1:", 9600, "N81"), 1);
    port.Close();
    sim.Stop();
}

QTEST_MAIN(SlowRunTest)
#include "SlowRunTest.moc"
