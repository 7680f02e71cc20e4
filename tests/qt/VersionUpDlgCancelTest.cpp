// Esc and Alt+F4 while the real device check waits for silent simulated machines, typed as an
// operator types them (the X server's test input into the focused window, openbox managing it):
// the check ends as Cancel in the port dialog ends it, with no port kept and the Start step
// shown, and the window stays. The clock stands still meanwhile, so no probe or query can give up
// by itself: only the cancel can have ended the check. The time from the key to the end is
// printed, not judged.
#include <chrono>
#include <cstdio>

#include <QApplication>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>

#include "qt/VersionUpApp.h"
#include "qt/VersionUpDlg.h"
#include "resources/StringIds.h"
#include "resources/Strings.h"
#include "tests/qt/CountedChecks.h"
#include "tests/qt/WaitIdle.h"
#include "tests/support/PauseClock.h"
#include "tests/support/SimPorts.h"

class CVersionUpDlgCancelTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QCOMPARE(QGuiApplication::platformName(), QString("xcb"));
        TestPortsDir();
        KeepNoSettings();
        // Alt+F4 is the window manager's key; without one it would reach the window as a key.
        m_openbox.start("openbox", {});
        QVERIFY(m_openbox.waitForStarted());
    }
    void cleanupTestCase() {
        m_openbox.terminate();
        m_openbox.waitForFinished();
    }

    void keyDuringTheCheckEndsIt_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("port"); // preset: "" discovers first
        QTest::newRow("Esc during discovery") << "Escape"
                                              << "";
        QTest::newRow("Alt+F4 during discovery") << "alt+F4"
                                                 << "";
        QTest::newRow("Esc during the version query") << "Escape"
                                                      << "COM3:";
        QTest::newRow("Alt+F4 during the version query") << "alt+F4"
                                                         << "COM3:";
    }

    void keyDuringTheCheckEndsIt() {
        QFETCH(QString, key);
        QFETCH(QString, port);
        CSimPorts ports;
        for (int n = 1; n <= 4; ++n)
            ports.Machine(n, "", ENormalFault::Silent);
        // The first port the check asks.
        const int nAsked = port.isEmpty() ? 1 : 3;
        CCheckCount count;
        CVersionUpDlg dlg(nullptr, CountedChecks(count));
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        dlg.GetSteps().Enter(EStep::Connect);
        dlg.GetState().m_strPort = port.toStdString();
        CHeldClock clock;
        CClockOverride useClock(clock);
        static_cast<QPushButton*>(dlg.GetControl(kIdNext))->click();
        QTRY_VERIFY_WITH_TIMEOUT(ports.Mode(nAsked).GetQueryCount() == 1, 10000);
        QVERIFY(dlg.IsBusy());

        const QString strWindow = QString::number(dlg.winId());
        QCOMPARE(QProcess::execute("xdotool", {"windowfocus", "--sync", strWindow}), 0);
        const auto start = std::chrono::steady_clock::now();
        QCOMPARE(QProcess::execute("xdotool", {"key", "--clearmodifiers", key}), 0);
        QVERIFY(WaitIdle(dlg));
        const auto nMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - start)
                             .count();
        std::printf("%s: the check ended %lld ms after the key\n", QTest::currentDataTag(),
                    static_cast<long long>(nMs));

        QCOMPARE(count.m_nChecks.load(), 1);
        QVERIFY(dlg.isVisible());
        QVERIFY(!QApplication::activeModalWidget());
        QCOMPARE(dlg.GetState().m_strPort, std::string());
        QCOMPARE(static_cast<QPlainTextEdit*>(dlg.GetControl(kIdStepText))->toPlainText(),
                 QString::fromStdString(LoadString(kIdsPutScanUnit)));
        for (int n = 1; n <= 4; ++n)
            QCOMPARE(ports.Mode(n).GetQueryCount(), n == nAsked ? 1 : 0);
        // The window takes its keys again: Esc now ends it.
        QCOMPARE(QProcess::execute("xdotool", {"key", "--clearmodifiers", "Escape"}), 0);
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.isVisible(), 10000);
    }

private:
    QProcess m_openbox;
};

QTEST_MAIN(CVersionUpDlgCancelTest)
#include "VersionUpDlgCancelTest.moc"
