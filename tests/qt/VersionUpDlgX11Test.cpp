// The main window on a real X display (a virtual one, without window manager) while the real
// device check probes three silent simulated machines and finds the fourth: a window that covered
// it goes away and the window is drawn again before the wait ends, and a click on Next and an
// Enter typed with the X server's own test input during a wait come to nothing, then or after the
// check. No dialog follows the input (its own event loop would take what was kept for later while
// the check is still running), so input kept rather than ignored would press Next after the check.
// What the X server delivered is counted as it arrives, so input dropped is told apart from input
// that never came.
#include <xcb/xcb.h>

#include <cstring>
#include <set>

#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include "qt/VersionUpApp.h"
#include "qt/VersionUpDlg.h"
#include "resources/StringIds.h"
#include "resources/Strings.h"
#include "tests/qt/CountedChecks.h"
#include "tests/qt/WaitIdle.h"
#include "tests/support/PauseClock.h"
#include "tests/support/SimPorts.h"

namespace {

// What the X server shows in the rectangle, in screen coordinates.
QImage OnScreen(const QRect& rc) {
    return QGuiApplication::primaryScreen()
        ->grabWindow(0, rc.x(), rc.y(), rc.width(), rc.height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

bool Shows(const QImage& image, QRgb rgb) {
    return image.pixel(image.width() / 2, image.height() / 2) == rgb;
}

// Key and button presses as the X server hands them to the program, before Qt makes events of
// them: a press that the window drops still counts here. One click may come several times (as a
// core event, and through the X input extension for the pointer and for its device: a generic
// event of type XI_ButtonPress), always with the server's time of the press, which tells them
// apart.
class CXInputCount : public QAbstractNativeEventFilter {
public:
    explicit CXInputCount(const CCheckCount& count) : m_count(count) {
        QCoreApplication::instance()->installNativeEventFilter(this);
    }
    ~CXInputCount() override { QCoreApplication::instance()->removeNativeEventFilter(this); }

    bool nativeEventFilter(const QByteArray& eventType, void* pMessage, qintptr*) override {
        if (eventType != "xcb_generic_event_t")
            return false;
        const auto* pEvent = static_cast<const xcb_generic_event_t*>(pMessage);
        constexpr uint16_t kXiButtonPress = 4;
        const int nWhen = m_count.m_bInCheck ? 0 : 1;
        switch (pEvent->response_type & 0x7f) {
        case XCB_KEY_PRESS:
            ++m_keys[nWhen];
            break;
        case XCB_BUTTON_PRESS:
            m_clicks[nWhen].insert(reinterpret_cast<const xcb_button_press_event_t*>(pEvent)->time);
            break;
        case XCB_GE_GENERIC:
            if (reinterpret_cast<const xcb_ge_generic_event_t*>(pEvent)->event_type ==
                kXiButtonPress) {
                // deviceid (16 bits) at byte 10, then the time.
                uint32_t nTime = 0;
                std::memcpy(&nTime, static_cast<const char*>(pMessage) + 12, sizeof nTime);
                m_clicks[nWhen].insert(nTime);
            }
            break;
        default:
            break;
        }
        return false;
    }

    // During the check, or elsewhere.
    int Keys(bool bInCheck) const { return m_keys[bInCheck ? 0 : 1]; }
    int Clicks(bool bInCheck) const { return static_cast<int>(m_clicks[bInCheck ? 0 : 1].size()); }

private:
    const CCheckCount& m_count;
    int m_keys[2] = {};
    std::set<uint32_t> m_clicks[2];
};

} // namespace

class CVersionUpDlgX11Test : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QCOMPARE(QGuiApplication::platformName(), QString("xcb"));
        TestPortsDir();
        KeepNoSettings();
    }

    void uncoveredWindowIsDrawnAndInputComesToNothing() {
        CSimPorts ports;
        for (int n = 1; n <= 3; ++n)
            ports.Machine(n, "", ENormalFault::Silent);
        ports.Machine(4);
        CCheckCount count;
        CXInputCount input(count);
        CVersionUpDlg dlg(nullptr, CountedChecks(count));
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        dlg.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        dlg.GetSteps().Enter(EStep::Connect);
        auto* pNext = static_cast<QPushButton*>(dlg.GetControl(kIdNext));
        const QPoint ptNext = pNext->mapToGlobal(pNext->rect().center());

        const QRgb rgbCover = qRgb(255, 0, 255);
        QWidget cover(nullptr, Qt::X11BypassWindowManagerHint | Qt::FramelessWindowHint);
        QPalette palette = cover.palette();
        palette.setColor(QPalette::Window, QColor(rgbCover));
        cover.setPalette(palette);
        cover.setAutoFillBackground(true);

        enum { Before, Covering, Uncovered, Redrawn } eStage = Before;
        QImage before;
        bool bServerLeftTheCover = false;
        int nRedrawnOn = 0;
        bool bInputSent = false;
        int nXdotool = -1;
        CStepClock clock(20);
        QTimer timer;
        connect(&timer, &QTimer::timeout, &dlg, [&] {
            QWidget* pModal = QApplication::activeModalWidget();
            // The silent port asked last, told by the machines: the wizard state belongs to the
            // check while it runs.
            int n = 0;
            for (int nSilent = 1; nSilent <= 3; ++nSilent) {
                if (ports.Mode(nSilent).GetQueryCount() > 0)
                    n = nSilent;
            }
            // Only while a probe waits for its answer.
            if (pModal || !count.m_bInCheck || n < 1 || n > 3 || ports.Mode(n).GetQueryCount() != 1)
                return;
            const QRect rcWindow = dlg.geometry();
            switch (eStage) {
            case Before:
                before = OnScreen(rcWindow);
                cover.setGeometry(rcWindow);
                cover.show();
                eStage = Covering;
                break;
            case Covering:
                if (!Shows(OnScreen(rcWindow), rgbCover))
                    break;
                cover.hide();
                // The X server does not draw the window itself: until the window handles the
                // expose, the cover's colour stays where the cover was.
                bServerLeftTheCover = Shows(OnScreen(rcWindow), rgbCover);
                eStage = Uncovered;
                break;
            case Uncovered:
                if (OnScreen(rcWindow) == before) {
                    nRedrawnOn = n;
                    eStage = Redrawn;
                }
                break;
            case Redrawn:
                break;
            }
            if (n == 3 && !bInputSent) {
                bInputSent = true;
                nXdotool = QProcess::execute("xdotool", {"mousemove", QString::number(ptNext.x()),
                                                         QString::number(ptNext.y()), "click", "1",
                                                         "key", "Return"});
            }
        });
        timer.start(1);
        {
            CClockOverride useClock(clock);
            pNext->click();
            QVERIFY(WaitIdle(dlg));
        }
        timer.stop();

        QVERIFY(bServerLeftTheCover);
        QCOMPARE(eStage, Redrawn);
        QVERIFY2(nRedrawnOn >= 1 && nRedrawnOn <= 3, "not redrawn during the waits");
        QVERIFY(bInputSent);
        QCOMPARE(nXdotool, 0);
        // A round trip to the X server, then whatever input was kept for later would run.
        OnScreen(QRect(0, 0, 1, 1));
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        // The click and the key reached the program while the check waited, and nothing came
        // of them.
        QCOMPARE(input.Clicks(true), 1);
        QCOMPARE(input.Keys(true), 1);
        QCOMPARE(input.Clicks(false), 0);
        QCOMPARE(input.Keys(false), 0);
        QCOMPARE(count.m_nChecks, 1);
        QCOMPARE(dlg.GetState().m_strPort, std::string("COM4:"));
        QCOMPARE(static_cast<QPlainTextEdit*>(dlg.GetControl(kIdStepText))->toPlainText(),
                 QString::fromStdString(LoadString(kIdsUnplugAdapter)).replace("\r\n", "\n"));
    }
};

QTEST_MAIN(CVersionUpDlgX11Test)
#include "VersionUpDlgX11Test.moc"
