// The main window through the real device check while simulated machines keep silent: it goes on
// handling its events, shows the wait cursor, and ignores what the operator does meanwhile, so that
// nothing typed or clicked during a wait acts on a later step. Asked to, it keeps a wire trace.
#include <QApplication>
#include <QComboBox>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <vector>

#include "qt/PortDlg.h"
#include "qt/VersionUpApp.h"
#include "qt/VersionUpDlg.h"
#include "resources/StringIds.h"
#include "resources/Strings.h"
#include "tests/qt/CountedChecks.h"
#include "tests/qt/WaitIdle.h"
#include "tests/support/PauseClock.h"
#include "tests/support/SimPorts.h"
#include "tests/support/TempDir.h"

namespace {

// The silent port asked last, told by the machines (the wizard state belongs to the check while
// it runs): 0 before the first query.
int PortAsked(CSimPorts& ports, const QList<int>& silent) {
    int nAsked = 0;
    for (int n : silent) {
        if (ports.Mode(n).GetQueryCount() > 0)
            nAsked = n;
    }
    return nAsked;
}

} // namespace

class CVersionUpDlgCheckTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        TestPortsDir();
        KeepNoSettings();
    }

    // The discovery probes four silent ports and then asks for the port; the check on a named
    // silent port asks whether to try again. Both then find a machine that answers, so the check
    // passes and the wizard moves on by exactly one step.
    void windowLivesThroughTheWaits_data() {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QList<int>>("silent");
        QTest::newRow("discovery over four silent ports") << QString() << QList<int>{1, 2, 3, 4};
        QTest::newRow("query on a silent port") << QString("COM2:") << QList<int>{2};
    }

    void windowLivesThroughTheWaits() {
        QFETCH(QString, port);
        QFETCH(QList<int>, silent);
        CSimPorts ports;
        for (int n : silent)
            ports.Machine(n, "", ENormalFault::Silent);
        const int nLastWait = silent.last();

        CCheckCount count;
        CVersionUpDlg dlg(nullptr, CountedChecks(count));
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        dlg.GetState().m_strPort = port.toStdString();
        dlg.GetSteps().Enter(EStep::Connect);
        auto* pNext = static_cast<QPushButton*>(dlg.GetControl(kIdNext));
        // The waits' time-outs run on this clock: each poll moves it on.
        CStepClock clock(20);

        // At each firing of the timer: the clock, and whether the wait cursor was up.
        struct CFiring {
            int64_t m_nClock;
            bool m_bWaitCursor;
        };
        std::map<int, std::vector<CFiring>> firings; // by port
        bool bInputSent = false;
        QStringList asked;
        QTimer timer;
        timer.setTimerType(Qt::PreciseTimer);
        connect(&timer, &QTimer::timeout, &dlg, [&] {
            QWidget* pModal = QApplication::activeModalWidget();
            // Only the operator's own answers bring the machine to life.
            if (auto* pPortDlg = qobject_cast<CPortDlg*>(pModal)) {
                asked << "port dialog";
                ports.Mode(4).SetConfig({});
                pPortDlg->GetList()->setCurrentIndex(3);
                pPortDlg->GetOkButton()->click();
                return;
            }
            if (auto* pBox = qobject_cast<QMessageBox*>(pModal)) {
                asked << pBox->text();
                ports.Mode(nLastWait).SetConfig({});
                if (QAbstractButton* pRetry = pBox->button(QMessageBox::Retry))
                    pRetry->click();
                else
                    pBox->done(QMessageBox::Ok);
                return;
            }
            const int n = PortAsked(ports, silent);
            // From the first query on that port until the next query or the operator's answer.
            if (pModal || !asked.isEmpty() || !count.m_bInCheck || n == 0 ||
                ports.Mode(n).GetQueryCount() != 1)
                return;
            const QCursor* pCursor = QApplication::overrideCursor();
            firings[n].push_back({clock.Now(), pCursor && pCursor->shape() == Qt::WaitCursor});
            if (n == nLastWait && !bInputSent) {
                bInputSent = true;
                // A click now, and Enter waiting in the queue for the next time events are
                // handled. (Esc and the close box end the check: qt_window_cancel_test.)
                QTest::mouseClick(pNext, Qt::LeftButton);
                QCoreApplication::postEvent(&dlg,
                                            new QKeyEvent(QEvent::KeyPress, Qt::Key_Return, {}));
                QCoreApplication::postEvent(&dlg,
                                            new QKeyEvent(QEvent::KeyRelease, Qt::Key_Return, {}));
            }
        });
        timer.start(1);
        {
            CClockOverride useClock(clock);
            pNext->click();
            QVERIFY(WaitIdle(dlg));
        }
        timer.stop();

        QCOMPARE(asked, port.isEmpty() ? QStringList{"port dialog"}
                                       : QStringList{"Transmission faild. Try again."});
        for (int n : silent) {
            // Until the operator answers, the waits alone move the clock: a firing after which it
            // moved came while the check still waited on that port, with the wait cursor up.
            // A silent port costs more than a second of the clock; the timer fires throughout.
            const std::vector<CFiring>& at = firings[n];
            int nDuringWait = 0;
            for (size_t i = 1; i < at.size(); ++i) {
                if (at[i].m_nClock == at[i - 1].m_nClock)
                    continue;
                ++nDuringWait;
                QVERIFY2(
                    at[i - 1].m_bWaitCursor,
                    qPrintable(
                        QString("COM%1: no wait cursor at %2 ms").arg(n).arg(at[i - 1].m_nClock)));
            }
            QVERIFY2(
                nDuringWait >= 4,
                qPrintable(QString("COM%1: %2 firings during the wait").arg(n).arg(nDuringWait)));
        }
        QVERIFY(bInputSent);
        QVERIFY(!QApplication::overrideCursor());

        // Whatever was kept for later would run now.
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        QCOMPARE(count.m_nChecks, 1);
        QVERIFY(dlg.isVisible());
        QCOMPARE(static_cast<QPlainTextEdit*>(dlg.GetControl(kIdStepText))->toPlainText(),
                 QString::fromStdString(LoadString(kIdsUnplugAdapter)).replace("\r\n", "\n"));
        QCOMPARE(dlg.GetState().m_strPort,
                 port.isEmpty() ? std::string("COM4:") : port.toStdString());
    }

    // Started with VERSIONUP_TRACE, the window records the check on its port and writes the file
    // when it closes.
    // COM1 to COM4 absent, eleven silent adapters above them and the machine, already upgraded,
    // on COM16: the window's check finds it and says so, each port asked once and no port
    // dialog. (How long it takes is for bench/qt's window_bench.)
    void machineAboveElevenSilentPortsIsFound() {
        CSimPorts ports;
        for (int n = 5; n <= 15; ++n)
            ports.Machine(n, "", ENormalFault::Silent);
        ports.Machine(16, "V260 TVK-50;");
        CCheckCount count;
        CVersionUpDlg dlg(nullptr, CountedChecks(count));
        dlg.show();
        dlg.GetSteps().Enter(EStep::Connect);
        QStringList shown;
        QTimer timer;
        connect(&timer, &QTimer::timeout, &dlg, [&] {
            QWidget* pModal = QApplication::activeModalWidget();
            if (auto* pBox = qobject_cast<QMessageBox*>(pModal)) {
                shown << pBox->text();
                pBox->done(QMessageBox::Ok);
            } else if (auto* pPortDlg = qobject_cast<CPortDlg*>(pModal)) {
                shown << "port dialog";
                pPortDlg->reject();
            }
        });
        timer.start(5);
        static_cast<QPushButton*>(dlg.GetControl(kIdNext))->click();
        QVERIFY(WaitIdle(dlg));
        timer.stop();
        QCOMPARE(shown, QStringList{"Upgrade unnecessary."});
        QCOMPARE(dlg.GetState().m_strPort, std::string("COM16:"));
        for (int n = 5; n <= 16; ++n)
            QCOMPARE(ports.Mode(n).GetQueryCount(), n == 16 ? 2 : 1);
        QCOMPARE(count.m_nChecks.load(), 1);
    }

    void traceIsWrittenWhenTheWindowCloses() {
        CSimPorts ports;
        ports.Machine(1, "V250 TVK-50;");
        CTempDir traces;
        qputenv("VERSIONUP_TRACE", QByteArray::fromStdString(traces.Path().string()));
        {
            CVersionUpDlg dlg;
            qunsetenv("VERSIONUP_TRACE");
            dlg.show();
            QVERIFY(QTest::qWaitForWindowExposed(&dlg));
            dlg.GetState().m_strPort = "COM1:";
            dlg.GetSteps().Enter(EStep::Connect);
            static_cast<QPushButton*>(dlg.GetControl(kIdNext))->click();
            QVERIFY(WaitIdle(dlg));
            QCOMPARE(dlg.GetState().m_strStatus, std::string("V250 TVK-50"));
            QVERIFY(std::filesystem::is_empty(traces.Path()));
        }
        std::vector<std::filesystem::path> files;
        for (const auto& entry : std::filesystem::directory_iterator(traces.Path()))
            files.push_back(entry.path());
        QCOMPARE(files.size(), size_t(1));
        QVERIFY(files[0].filename().string().rfind("COM1-", 0) == 0);
        std::ifstream in(files[0]);
        const std::string strText{std::istreambuf_iterator<char>(in), {}};
        QVERIFY2(strText.find("open COM1 (") != std::string::npos, strText.c_str());
        QVERIFY2(strText.find("> 46 3b") != std::string::npos, strText.c_str());
        QVERIFY2(strText.find("< 56 32 35 30") != std::string::npos, strText.c_str());
        QVERIFY2(strText.find("outcome: upgrade needed: V250 TVK-50") != std::string::npos,
                 strText.c_str());
    }
};

QTEST_MAIN(CVersionUpDlgCheckTest)
#include "VersionUpDlgCheckTest.moc"
