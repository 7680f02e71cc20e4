// The progress dialog on the offscreen platform: its percent label, its Cancel in every form,
// what it does to its owner, and, through the operator a transfer on the worker uses, Cancel
// reaching the running transfer and the last position drawn.
#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QWindow>
#include <QtTest>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "frontend/ForwardingOperator.h"
#include "qt/ProgressDlg.h"
#include "qt/WindowCalls.h"
#include "resources/Resources.h"
#include "resources/Strings.h"
#include "sim/BootMode.h"
#include "sim/MachineSim.h"
#include "tests/support/Files.h"
#include "tests/support/PauseClock.h"
#include "tests/support/QuietOperator.h"
#include "tests/support/ResourceOverride.h"
#include "tests/support/SimPorts.h"
#include "tests/support/TempDir.h"
#include "transfer/Transfer.h"

namespace {

// The window as a transfer on its worker meets it: the forwarding operator both windows give
// their worker, with the Qt window's abandon, over a real progress dialog owned by the main
// window. What a test looks at is noted on this thread.
class CWindowOperator : public CQuietOperator {
public:
    explicit CWindowOperator(QWidget* pMainWindow)
        : m_calls(pMainWindow), m_pMainWindow(pMainWindow),
          m_worker(*this, m_calls, AbandonProgressDlg) {}
    // On the window's thread, as the main window's own CreateProgress.
    std::unique_ptr<IProgressSink> CreateProgress() override {
        auto pDlg = std::make_unique<CProgressDlg>(0, m_pMainWindow);
        Made(pDlg.get());
        return pDlg;
    }
    virtual void Made(CProgressDlg* pDlg) { m_pLast = pDlg; }
    // What the worker is given.
    IOperator& Worker() { return m_worker; }

    CQtWindowCalls m_calls;
    QPointer<CProgressDlg> m_pLast;

private:
    QWidget* m_pMainWindow;
    CForwardingOperator m_worker;
};

// The window's thread goes on with its events while the transfer runs on a worker; the
// transfer's result, and why it failed in outcome.
int TransferOnWorker(IOperator& op, CTransferOutcome* pOutcome = nullptr) {
    std::atomic<bool> bEnded{false};
    int nResult = -1;
    CTransferOptions options;
    options.m_pOutcome = pOutcome;
    std::thread worker([&] {
        nResult = TransferFirmwareWithOptions("COM1:", nullptr, op, options);
        bEnded = true;
    });
    // A run that never ends is caught by the join and the test's time-out.
    static_cast<void>(QTest::qWaitFor([&] { return bEnded.load(); }, 120'000));
    worker.join();
    return nResult;
}

// What the percent label showed each time it was painted, with the bar's position then.
class CPaintLog : public QObject {
public:
    struct CPaint {
        QString m_strText;
        int m_nBar;
        int m_nBarMaximum;
    };
    CPaintLog(QLabel* pLabel, QProgressBar* pBar) : m_pLabel(pLabel), m_pBar(pBar) {
        pLabel->installEventFilter(this);
    }
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override {
        if (pWatched == m_pLabel && pEvent->type() == QEvent::Paint)
            m_paints.push_back({m_pLabel->text(), m_pBar->value(), m_pBar->maximum()});
        return false;
    }
    std::vector<CPaint> m_paints;

private:
    QLabel* m_pLabel;
    QProgressBar* m_pBar;
};

// The window's operator, which also watches every paint of the progress dialog's percent label.
class CPaintWatchingOperator : public CWindowOperator {
public:
    using CWindowOperator::CWindowOperator;
    void Made(CProgressDlg* pDlg) override {
        CWindowOperator::Made(pDlg);
        m_pLog = std::make_unique<CPaintLog>(pDlg->findChild<QLabel*>("percent"),
                                             pDlg->findChild<QProgressBar*>());
    }
    std::unique_ptr<CPaintLog> m_pLog;
};

QPoint CentreInWindow(QWidget* pWidget) {
    return pWidget->mapTo(pWidget->window(), pWidget->rect().center());
}

} // namespace

class ProgressDlgTest : public QObject {
    Q_OBJECT
private slots:
    void percentLabel_data();
    void percentLabel();
    void labelKeepsTheTemplateTextUntilTheFirstPosition();
    void titleComesFromTheStringTable();
    void cancelPressedTwiceIsSeenOnce();
    void everyFormOfCancelRaisesTheFlagAndNothingCloses_data();
    void everyFormOfCancelRaisesTheFlagAndNothingCloses();
    void okDoesNothing();
    void ownerIsDisabledExactlyWhileTheDialogExists();
    void ownerDisabledBeforeCreateStaysDisabled();
    void cancelWorksWhileTheOwnerIsDisabledAndModal();
    void controlsKeepTheTemplateOrderInsideTheWindow();
    void cancelEndsATransferThatWaitsForASilentMachine_data();
    void cancelEndsATransferThatWaitsForASilentMachine();
    void percentIsDrawnAtOnceUpToTheLastPosition();
};

void ProgressDlgTest::percentLabel_data() {
    QTest::addColumn<int>("lower");
    QTest::addColumn<int>("upper");
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("label");
    // The range of the built-in loader and package.
    QTest::newRow("start") << 0 << 143169 << 0 << "0%";
    QTest::newRow("end of the loader") << 0 << 143169 << 24504 << "17%";
    QTest::newRow("top of the range") << 0 << 143169 << 143169 << "100%";
    QTest::newRow("one past the top") << 0 << 143169 << 143170 << "100%";
    QTest::newRow("just below: truncates to 0") << 0 << 143169 << -1 << "0%";
    QTest::newRow("p = -1: empty") << 0 << 143169 << -1432 << "";
    QTest::newRow("150 starts again") << 0 << 143169 << 214754 << "50%";
    QTest::newRow("200 wraps to 0") << 0 << 143169 << 286338 << "0%";
    QTest::newRow("lower end not 0") << 100 << 300 << 150 << "25%";
    // A product beyond 32 bits still gives the true percentage.
    QTest::newRow("huge range") << 0 << 2147483647 << 2000000000 << "93%";
}

void ProgressDlgTest::percentLabel() {
    QFETCH(int, lower);
    QFETCH(int, upper);
    QFETCH(int, position);
    QFETCH(QString, label);
    CProgressDlg dlg;
    dlg.Create();
    dlg.SetRange(lower, upper);
    dlg.SetPos(position);
    QCOMPARE(dlg.GetPercentText(), label);
    auto* pBar = dlg.findChild<QProgressBar*>();
    QVERIFY(pBar);
    QCOMPARE(pBar->value(), std::clamp(position, lower, upper));
}

void ProgressDlgTest::labelKeepsTheTemplateTextUntilTheFirstPosition() {
    CProgressDlg dlg;
    dlg.Create();
    dlg.SetRange(0, 143169);
    QCOMPARE(dlg.GetPercentText(), QString(" 0 %"));
    dlg.SetPos(0);
    QCOMPARE(dlg.GetPercentText(), QString("0%"));
}

void ProgressDlgTest::titleComesFromTheStringTable() {
    CProgressDlg dlg;
    dlg.Create();
    QCOMPARE(dlg.windowTitle(), QString::fromStdString(LoadString(104)));
    QVERIFY(!dlg.windowTitle().isEmpty());
    CProgressDlg other(116);
    other.Create();
    QCOMPARE(other.windowTitle(), QString::fromStdString(LoadString(116)));
}

void ProgressDlgTest::cancelPressedTwiceIsSeenOnce() {
    CProgressDlg dlg;
    dlg.Create();
    QTest::mouseClick(dlg.GetCancelButton(), Qt::LeftButton);
    QTest::mouseClick(dlg.GetCancelButton(), Qt::LeftButton);
    QCOMPARE(dlg.CheckCancel(), 1);
    QCOMPARE(dlg.CheckCancel(), 0);
}

void ProgressDlgTest::everyFormOfCancelRaisesTheFlagAndNothingCloses_data() {
    QTest::addColumn<int>("form");
    QTest::newRow("Esc") << 0;
    QTest::newRow("Enter on the focused Cancel") << 1;
    QTest::newRow("Return on the focused Cancel") << 2;
    QTest::newRow("close box") << 3;
}

void ProgressDlgTest::everyFormOfCancelRaisesTheFlagAndNothingCloses() {
    QFETCH(int, form);
    CProgressDlg dlg;
    dlg.Create();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QCOMPARE(dlg.focusWidget(), dlg.GetCancelButton());
    // The events wait in the queue for the window's event loop; the flag is raised there.
    switch (form) {
    case 0:
        QCoreApplication::postEvent(&dlg, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, {}));
        break;
    case 1:
        QCoreApplication::postEvent(dlg.GetCancelButton(),
                                    new QKeyEvent(QEvent::KeyPress, Qt::Key_Enter, {}));
        break;
    case 2:
        QCoreApplication::postEvent(dlg.GetCancelButton(),
                                    new QKeyEvent(QEvent::KeyPress, Qt::Key_Return, {}));
        break;
    case 3:
        QCoreApplication::postEvent(&dlg, new QCloseEvent);
        break;
    }
    QCOMPARE(dlg.CheckCancel(), 0);
    int nSeen = 0;
    QTRY_VERIFY((nSeen += dlg.CheckCancel()) > 0);
    QCOMPARE(nSeen, 1);
    QCOMPARE(dlg.CheckCancel(), 0);
    QVERIFY(dlg.isVisible());
}

void ProgressDlgTest::okDoesNothing() {
    CProgressDlg dlg;
    dlg.Create();
    dlg.accept();
    QVERIFY(dlg.isVisible());
    QCOMPARE(dlg.CheckCancel(), 0);
}

void ProgressDlgTest::ownerIsDisabledExactlyWhileTheDialogExists() {
    QWidget mainWindow;
    mainWindow.show();
    auto pDlg = std::make_unique<CProgressDlg>(0, &mainWindow);
    QVERIFY(mainWindow.isEnabled());
    QCOMPARE(pDlg->Create(), 1);
    QVERIFY(!mainWindow.isEnabled());
    QVERIFY(pDlg->isEnabled());
    pDlg.reset();
    QVERIFY(mainWindow.isEnabled());
}

void ProgressDlgTest::ownerDisabledBeforeCreateStaysDisabled() {
    QWidget mainWindow;
    mainWindow.show();
    mainWindow.setEnabled(false);
    {
        CProgressDlg dlg(0, &mainWindow);
        dlg.Create();
    }
    QVERIFY(!mainWindow.isEnabled());
}

void ProgressDlgTest::cancelWorksWhileTheOwnerIsDisabledAndModal() {
    // The main window runs modal, as the wizard does; the dialog must still take the click.
    QDialog mainWindow;
    mainWindow.setWindowModality(Qt::ApplicationModal);
    mainWindow.show();
    QVERIFY(QTest::qWaitForWindowExposed(&mainWindow));
    CProgressDlg dlg(0, &mainWindow);
    dlg.Create();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QVERIFY(!mainWindow.isEnabled());

    // Through the window system, where a blocked or disabled window would drop the click.
    QTest::mouseClick(dlg.windowHandle(), Qt::LeftButton, {},
                      CentreInWindow(dlg.GetCancelButton()));
    int nSeen = 0;
    QTRY_VERIFY((nSeen += dlg.CheckCancel()) > 0);
}

void ProgressDlgTest::controlsKeepTheTemplateOrderInsideTheWindow() {
    CProgressDlg dlg;
    dlg.Create();
    const QRect window = dlg.rect();
    auto* pMessage = dlg.findChild<QLabel*>("message");
    auto* pPercent = dlg.findChild<QLabel*>("percent");
    auto* pBar = dlg.findChild<QProgressBar*>();
    QVERIFY(pMessage && pPercent && pBar);
    for (QWidget* pControl :
         {static_cast<QWidget*>(pMessage), static_cast<QWidget*>(pPercent),
          static_cast<QWidget*>(pBar), static_cast<QWidget*>(dlg.GetCancelButton())})
        QVERIFY2(window.contains(pControl->geometry()), qPrintable(pControl->objectName()));
    QVERIFY(pMessage->geometry().bottom() < pPercent->geometry().top());
    QVERIFY(pPercent->geometry().bottom() < pBar->geometry().top());
    QVERIFY(pBar->geometry().bottom() < dlg.GetCancelButton()->geometry().top());
    // The text of the font fits the percent label, whatever the font.
    QVERIFY(pPercent->width() >= pPercent->fontMetrics().horizontalAdvance("100%"));
}

void ProgressDlgTest::cancelEndsATransferThatWaitsForASilentMachine_data() {
    QTest::addColumn<bool>("shut");
    QTest::newRow("Cancel pressed") << false;
    // The main window shuts its calls when it goes with a run still on.
    QTest::newRow("the window stops answering") << true;
}

void ProgressDlgTest::cancelEndsATransferThatWaitsForASilentMachine() {
    QFETCH(bool, shut);
    CPortsHome home;
    CMachineSim sim;
    CBootMode::CBehaviour behaviour;
    behaviour.m_bSilent = true;
    CBootMode* pMachine = StartBootMode(sim, home.GetPortsDir(), 1, behaviour);
    QVERIFY(pMachine);

    QWidget mainWindow;
    mainWindow.show();
    CWindowOperator op(&mainWindow);
    // The operator presses Cancel once the 0x00 bytes have been going for a while. The handler
    // only notes what it sees: a check failing in it would return before the click, and the run
    // would wait for the silent machine until the time-out. A run that does not take the Cancel
    // is ended by hanging the machine up a while later, and then fails for another cause.
    QTimer timer;
    bool bClicked = false, bOwnerDisabled = false;
    int nTicksAfterClick = 0;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (bClicked) {
            if (++nTicksAfterClick == 250)
                sim.Stop();
            return;
        }
        if (!op.m_pLast || pMachine->GetSyncZeros() < 20)
            return;
        bOwnerDisabled = !mainWindow.isEnabled();
        bClicked = true;
        if (shut)
            op.m_calls.Shut();
        else
            QTest::mouseClick(op.m_pLast->GetCancelButton(), Qt::LeftButton);
    });
    timer.start(20);

    CTransferOutcome outcome;
    QCOMPARE(TransferOnWorker(op.Worker(), &outcome), 0);
    QVERIFY(bClicked);
    QVERIFY(bOwnerDisabled);
    QCOMPARE(outcome.m_eFault, ETransferFault::Cancelled);
    QCOMPARE(outcome.m_eStep, ETransferStep::Sync);
    // A dialog the forwarder could no longer end in person goes with the next events.
    QTRY_VERIFY(op.m_pLast.isNull());
    QVERIFY(mainWindow.isEnabled());
    sim.Stop();
}

void ProgressDlgTest::percentIsDrawnAtOnceUpToTheLastPosition() {
    // A built-in loader and package of a few pieces, so that the run is short; the pauses of the
    // protocol are not slept.
    CResourceOverride resources;
    resources.Replace("BIN", kIdLoader, MakeBytes(40, 1));
    resources.Replace("BIN", kIdPackage, MakeBytes(1000, 2));
    CPauseClock clock;
    CClockOverride useClock(clock);
    CPortsHome home;
    CMachineSim sim;
    QVERIFY(StartBootMode(sim, home.GetPortsDir(), 1));

    QWidget mainWindow;
    mainWindow.show();
    CPaintWatchingOperator op(&mainWindow);
    QCOMPARE(TransferOnWorker(op.Worker()), 1);
    sim.Stop();

    // The last position and the dialog's end may be handled in one batch of events: the label
    // must have been drawn with "100%" by then.
    QVERIFY(op.m_pLog);
    const std::vector<CPaintLog::CPaint>& paints = op.m_pLog->m_paints;
    QVERIFY(!paints.empty());
    QCOMPARE(paints.back().m_strText, QString("100%"));
    QCOMPARE(paints.back().m_nBar, paints.back().m_nBarMaximum);
}

QTEST_MAIN(ProgressDlgTest)
#include "ProgressDlgTest.moc"
