// The main window on the offscreen platform, with a scripted machine behind it.
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <atomic>
#include <functional>
#include <future>
#include <thread>

#include "frontend/AppTitle.h"
#include "qt/AboutDlg.h"
#include "qt/Dib.h"
#include "qt/PortDlg.h"
#include "qt/ProgressDlg.h"
#include "qt/VersionUpApp.h"
#include "qt/VersionUpDlg.h"
#include "resources/Resources.h"
#include "resources/StringIds.h"
#include "resources/Strings.h"
#include "sim/BootMode.h"
#include "sim/MachineSim.h"
#include "sim/NormalMode.h"
#include "tests/qt/WaitIdle.h"
#include "tests/support/Files.h"
#include "tests/support/Packages.h"
#include "tests/support/ResourceOverride.h"
#include "tests/support/SimPorts.h"
#include "tests/support/StepTexts.h"
#include "tests/support/TempDir.h"

namespace {

// The machine: every check passes on "COM1:" with a TVK-50, every transfer returns the next
// scripted result (1 when none is left). Both run on the window's worker.
struct CScriptedMachine {
    std::string m_strReply = "V250 TVK-50";
    std::vector<int> m_transfers;
    std::atomic<int> m_nChecks{0};
    std::atomic<int> m_nTransferCalls{0};
    std::function<void(IOperator&)> m_fnDuringCheck;
    std::function<void(IOperator&)> m_fnDuringTransfer;

    CMachineLink MakeLink() {
        CMachineLink link;
        link.m_fnCheckFirmwareVersion = [this](CWizardState& state, IOperator& op, const char*) {
            ++m_nChecks;
            if (m_fnDuringCheck)
                m_fnDuringCheck(op);
            state.m_strPort = "COM1:";
            state.m_strStatus = m_strReply;
            state.RefreshControls();
            return true;
        };
        link.m_fnTransferFirmware = [this](const std::string&, const std::vector<uint8_t>*,
                                           IOperator& op) {
            ++m_nTransferCalls;
            if (m_fnDuringTransfer)
                m_fnDuringTransfer(op);
            if (m_transfers.empty())
                return 1;
            const int nResult = m_transfers.front();
            m_transfers.erase(m_transfers.begin());
            return nResult;
        };
        return link;
    }
};

// Runs fnCheck on the next modal dialog or popup as soon as it is up (the caller then blocks in
// that dialog's own loop until fnCheck closes it; a window fnCheck leaves open is closed after
// it). Stops looking when it goes out of scope.
class CWhenUp {
public:
    // pszClass: only a window of that class (a popup or dialog of another class is left alone).
    explicit CWhenUp(std::function<void(QWidget*)> fnCheck, const char* pszClass = "QWidget")
        : m_fnCheck(std::move(fnCheck)) {
        QObject::connect(&m_timer, &QTimer::timeout, [this, pszClass] {
            QWidget* pUp = QApplication::activePopupWidget();
            if (!pUp)
                pUp = QApplication::activeModalWidget();
            if (!pUp || !pUp->isVisible() || qobject_cast<CVersionUpDlg*>(pUp) ||
                !pUp->inherits(pszClass))
                return;
            m_timer.stop();
            m_bSeen = true;
            m_geometry = pUp->geometry();
            // Where windows cannot place themselves (Wayland), a popup or dialog is put over
            // the window it names as its transient parent, or anywhere without one.
            if (pUp->windowHandle())
                m_pTransientParent = pUp->windowHandle()->transientParent();
            QPointer<QWidget> pWindow = pUp;
            m_fnCheck(pUp);
            // A check that failed returned before it closed the window: close it here, or the
            // caller would wait in the window's loop until the test run's time-out.
            if (pWindow && pWindow->isVisible()) {
                if (auto* pDialog = qobject_cast<QDialog*>(pWindow.data()))
                    pDialog->done(QDialog::Rejected);
                else
                    pWindow->close();
            }
        });
        m_timer.start(10);
    }
    // Waits until the dialog has come and gone.
    bool Wait(int nMilliseconds = 5000) {
        return QTest::qWaitFor([this] { return m_bSeen && !m_timer.isActive(); }, nMilliseconds);
    }
    bool WasSeen() const { return m_bSeen; }
    QWindow* GetTransientParent() const { return m_pTransientParent; }
    // In global coordinates, as the window had it when it came up.
    QRect GetGeometry() const { return m_geometry; }

private:
    std::function<void(QWidget*)> m_fnCheck;
    QTimer m_timer;
    bool m_bSeen = false;
    QPointer<QWindow> m_pTransientParent;
    QRect m_geometry;
};

// Holds a run on the worker until the test lets it go, or until the holder goes: declared after
// the window, it lets a run go before the window waits for it.
class CHold {
public:
    CHold() : m_released(m_release.get_future().share()) {}
    ~CHold() { Release(); }
    // Called on the worker.
    void Wait() {
        m_bHeld = true;
        m_released.wait();
    }
    void Release() {
        if (!m_bReleased.exchange(true))
            m_release.set_value();
    }
    bool IsHeld() const { return m_bHeld; }

private:
    std::promise<void> m_release;
    std::shared_future<void> m_released;
    std::atomic<bool> m_bHeld{false};
    std::atomic<bool> m_bReleased{false};
};

// A left click through the window system, which drops it on a disabled or blocked window.
void ClickThroughWindow(QWidget& window, QWidget* pControl) {
    QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {},
                      pControl->mapTo(&window, pControl->rect().center()));
}

// A right-button double-click as the platform delivers it: to the widget under the point, which
// passes it on to its parent if it does not take it.
void RightDoubleClick(QWidget& window, QPoint pt, Qt::MouseButtons buttons,
                      Qt::KeyboardModifiers modifiers) {
    QWidget* pTarget = window.childAt(pt);
    if (!pTarget)
        pTarget = &window;
    const QPoint ptLocal = pTarget->mapFrom(&window, pt);
    QMouseEvent event(QEvent::MouseButtonDblClick, ptLocal, pTarget->mapToGlobal(ptLocal),
                      Qt::RightButton, buttons, modifiers);
    QApplication::sendEvent(pTarget, &event);
}

// The texts of a popup's items, "-" for a separator.
QStringList ItemsOf(QWidget* pPopup) {
    QStringList items;
    for (QAction* pAction : pPopup->actions())
        items << (pAction->isSeparator() ? QString("-") : pAction->text());
    return items;
}

class CLanguage {
public:
    explicit CLanguage(const char* pszLang) {
        unsetenv("LC_ALL");
        unsetenv("LC_MESSAGES");
        setenv("LANG", pszLang, 1);
    }
    ~CLanguage() { setenv("LANG", "C", 1); }
};

} // namespace

class CVersionUpDlgTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        KeepNoSettings();
        unsetenv("LC_ALL");
        unsetenv("LC_MESSAGES");
        setenv("LANG", "C", 1);
    }

    void startState() {
        CScriptedMachine machine;
        CVersionUpDlg dlg(nullptr, machine.MakeLink());
        dlg.show();
        QCOMPARE(dlg.windowTitle(), QString("Version up tool for NRP-7/70 TVK-35/50"));
        QVERIFY(!dlg.GetControl(kIdBack)->isEnabled());
        QVERIFY(dlg.GetControl(kIdNext)->isEnabled());
        QCOMPARE(Text(dlg, kIdStatus), QString());
        QCOMPARE(Text(dlg, kIdPortText), QString());
        QCOMPARE(Text(dlg, kIdPackageText), QString("TVK35/50 NRP7/70  V260"));
        QCOMPARE(Text(dlg, kIdStepText), QString("Put the Scan Unit on the machine."));
        QCOMPARE(dlg.GetState().m_strPackageVersion, std::string("V260"));
        QCOMPARE(dlg.focusWidget(), dlg.GetControl(kIdNext));
        QVERIFY(static_cast<QPushButton*>(dlg.GetControl(kIdNext))->isDefault());
        QVERIFY(!dlg.windowIcon().isNull());
        QVERIFY(dlg.GetPicture() != nullptr);
        QCOMPARE(dlg.GetPicture()->GetBitmapInfo().bmWidth, 256);
        QCOMPARE(dlg.GetPicture()->GetBitmapInfo().bmHeight, 192);
        // Fixed size, no minimise or maximise box.
        QCOMPARE(dlg.minimumSize(), dlg.maximumSize());
        QVERIFY(
            !(dlg.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    }

    void layoutGrowsInHeightOnly() {
        CScriptedMachine machine;
        CVersionUpDlg dlg(nullptr, machine.MakeLink());
        QWidget* pFrame = dlg.GetControl(kIdPictureFrame);
        pFrame->setGeometry(pFrame->x(), pFrame->y(), 300, 58);
        const QRect rcFrame = pFrame->geometry();
        const QSize sizeBefore = dlg.size();
        std::map<int, QPoint> before;
        for (int nId : {kIdStepText, kIdBack, kIdNext, kIdStatus, kIdPortText, kIdPackageText})
            before[nId] = dlg.GetControl(nId)->pos();

        dlg.Layout(256, 192);

        QCOMPARE(dlg.size(), sizeBefore + QSize(0, 134));
        QCOMPARE(pFrame->geometry(), QRect(rcFrame.topLeft(), QSize(300, 192)));
        for (int nId : {kIdStepText, kIdBack, kIdNext, kIdStatus})
            QCOMPARE(dlg.GetControl(nId)->pos(), before[nId] + QPoint(0, 134));
        for (int nId : {kIdPortText, kIdPackageText})
            QCOMPARE(dlg.GetControl(nId)->pos(), before[nId]);
        QCOMPARE(dlg.GetPictureCentre(), QPoint(rcFrame.x() + 150, rcFrame.y() + 96));
    }

    // Whatever font the desktop has, the picture fits its frame and no control overlaps another.
    void layoutAtStartHoldsThePicture() {
        CScriptedMachine machine;
        CVersionUpDlg dlg(nullptr, machine.MakeLink());
        dlg.show();
        const QRect rcFrame = dlg.GetControl(kIdPictureFrame)->geometry();
        QVERIFY(rcFrame.width() >= 256);
        QCOMPARE(rcFrame.height(), 192);
        QVERIFY(dlg.rect().contains(rcFrame));
        const QRect rcText = dlg.GetControl(kIdStepText)->geometry();
        QVERIFY(rcText.top() >= rcFrame.bottom());
        QVERIFY(dlg.GetControl(kIdNext)->geometry().top() > rcText.bottom());
        QVERIFY(dlg.rect().contains(dlg.GetControl(kIdNext)->geometry()));
    }

    // Each pixel of the step picture covers a whole square of the screen's pixels, whatever the
    // screen's density (the test runs at scale factors 1 and 2): repeated, never smoothed.
    void pictureKeepsItsPixels() {
        CScriptedMachine machine;
        CVersionUpDlg dlg(nullptr, machine.MakeLink());
        dlg.show();
        const QImage& picture = dlg.GetPicture()->GetImage();
        QRect rc(QPoint(0, 0), picture.size());
        rc.translate(dlg.GetPictureCentre() - QPoint(picture.width() / 2, picture.height() / 2));
        QImage shown = dlg.grab(rc).toImage().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(shown.size(), picture.size() * dlg.devicePixelRatioF());
        shown.setDevicePixelRatio(1); // compared pixel for pixel
        QCOMPARE(shown, picture.convertToFormat(QImage::Format_RGB32)
                            .scaled(shown.size(), Qt::IgnoreAspectRatio, Qt::FastTransformation));
    }

    void popupForDoubleClick_data() {
        QTest::addColumn<int>("buttons");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<bool>("packagePath");
        QTest::addColumn<QString>("where");
        QTest::addColumn<QString>("popup");
        const int nRight = Qt::RightButton;
        const int nMiddle = Qt::MiddleButton;
        const int nShift = Qt::ShiftModifier;
        const int nShiftCtrl = Qt::ShiftModifier | Qt::ControlModifier;
        auto row = [](const char* pszName, int nButtons, int nModifiers, bool bPath,
                      const char* pszWhere, const char* pszPopup) {
            QTest::newRow(pszName)
                << nButtons << nModifiers << bPath << QString(pszWhere) << QString(pszPopup);
        };
        row("no keys", nRight, 0, false, "picture", "plainPopup");
        row("Shift+Ctrl", nRight, nShiftCtrl, false, "picture", "servicePopup");
        row("Shift+Ctrl, middle button down", nRight | nMiddle, nShiftCtrl, false, "picture",
            "plainPopup");
        row("Shift only", nRight, nShift, false, "picture", "plainPopup");
        row("package path set", nRight, 0, true, "picture", "servicePopup");
        row("on the status line", nRight, 0, false, "status", "plainPopup");
        row("on the text box", nRight, nShiftCtrl, false, "text", "");
        row("on the port name", nRight, nShiftCtrl, false, "port", "");
        row("on the package text", nRight, nShiftCtrl, true, "package", "");
    }

    void popupForDoubleClick() {
        QFETCH(int, buttons);
        QFETCH(int, modifiers);
        QFETCH(bool, packagePath);
        QFETCH(QString, where);
        QFETCH(QString, popup);
        CScriptedMachine machine;
        CVersionUpDlg dlg(nullptr, machine.MakeLink());
        dlg.show();
        // The operator clicks a window on the screen; where the desktop puts it is known only
        // once it is there.
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        if (packagePath)
            dlg.GetState().m_strPackagePath = "/nowhere/other.ufw";
        const std::map<QString, QPoint> points = {
            {"picture", dlg.GetPictureCentre()},
            {"status", dlg.GetControl(kIdStatus)->geometry().center()},
            {"text", dlg.GetControl(kIdStepText)->geometry().center()},
            {"port", dlg.GetControl(kIdPortText)->geometry().center()},
            {"package", dlg.GetControl(kIdPackageText)->geometry().center()},
        };
        QString strShown;
        QStringList items;
        CWhenUp when([&](QWidget* pUp) {
            strShown = pUp->objectName();
            items = ItemsOf(pUp);
            pUp->close();
        });
        RightDoubleClick(dlg, points.at(where), Qt::MouseButtons(buttons),
                         Qt::KeyboardModifiers(modifiers));
        if (popup.isEmpty()) {
            QVERIFY(!when.Wait(300));
            return;
        }
        QVERIFY(when.Wait());
        QCOMPARE(strShown, popup);
        // At the double-click point, over the main window wherever the desktop put it; a menu
        // that would cross the screen's edge there is moved back onto it, as every menu is (a
        // small screen at a scale factor of 2 has the status line near its bottom).
        const QRect shown = when.GetGeometry();
        const QRect screen = dlg.screen()->availableGeometry();
        const QPoint at = dlg.mapToGlobal(points.at(where));
        const QPoint place(std::min(at.x(), screen.right() + 1 - shown.width()),
                           std::min(at.y(), screen.bottom() + 1 - shown.height()));
        QCOMPARE(shown.topLeft(), place);
        QCOMPARE(when.GetTransientParent(), dlg.windowHandle());
        QStringList expected = {"&Send Firmware", "-", "Select &Port...", "-", "&About..."};
        if (popup == "servicePopup")
            expected.prepend("&Open...");
        QCOMPARE(items, expected);
        QCOMPARE(machine.m_nTransferCalls, 0);
        QCOMPARE(dlg.GetControl(kIdStepText)->property("plainText").toString(),
                 QString("Put the Scan Unit on the machine."));
    }

    void aboutShowsThePackageText() {
        CScriptedMachine machine;
        CVersionUpDlg dlg(nullptr, machine.MakeLink());
        dlg.SetAboutAction(ShowAboutBox);
        dlg.show();
        QString strVersion, strLine;
        bool bFits = false;
        CWhenUp about(
            [&](QWidget* pUp) {
                auto* pAbout = qobject_cast<CAboutDlg*>(pUp);
                QVERIFY(pAbout);
                QCOMPARE(pAbout->windowTitle(), QString("About"));
                strVersion = pAbout->GetVersionLabel()->text();
                strLine = pAbout->GetUpgradeForLabel()->text();
                QLabel* pLine = pAbout->GetUpgradeForLabel();
                bFits = pLine->fontMetrics().horizontalAdvance(strLine) <= pLine->width();
                pAbout->GetOkButton()->click();
            },
            "CAboutDlg");
        // Chosen from the popup, as the operator does.
        {
            CWhenUp popup(
                [&](QWidget* pPopup) {
                    auto* pMenu = qobject_cast<QMenu*>(pPopup);
                    pMenu->setActiveAction(pMenu->actions().last());
                    QTest::keyClick(pMenu, Qt::Key_Return);
                },
                "QMenu");
            RightDoubleClick(dlg, dlg.GetPictureCentre(), Qt::RightButton, Qt::NoModifier);
            QVERIFY(popup.Wait());
        }
        QVERIFY(about.Wait());
        QCOMPARE(about.GetTransientParent(), dlg.windowHandle());
        QCOMPARE(strVersion, QString("Tool Version 2.50"));
        QCOMPARE(strLine, QString("Upgrade for TVK35/50 NRP7/70  V260"));
        QVERIFY2(bFits, "the About line is clipped");
        QCOMPARE(Text(dlg, kIdStepText), QString("Put the Scan Unit on the machine."));
    }

    // A file that is no package is refused as Open... takes it: the box names it, and the top line
    // and the About box go on naming the built-in package, which is what would be sent.
    void refusedOpenKeepsTheBuiltInPackage() {
        CScriptedMachine machine;
        CVersionUpDlg dlg(nullptr, machine.MakeLink());
        dlg.SetAboutAction(ShowAboutBox);
        dlg.show();
        QTemporaryDir dir;
        const QString strBad = dir.path() + "/bad.ufw";
        QFile file(strBad);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("no firmware package at all");
        file.close();
        QString strBox;
        {
            CWhenUp box(
                [&](QWidget* pUp) {
                    strBox = qobject_cast<QMessageBox*>(pUp)->text();
                    qobject_cast<QMessageBox*>(pUp)->button(QMessageBox::Ok)->click();
                },
                "QMessageBox");
            CWhenUp when([&](QWidget* pUp) {
                auto* pFile = qobject_cast<QFileDialog*>(pUp);
                QVERIFY(pFile);
                pFile->findChild<QLineEdit*>("fileNameEdit")->setText(strBad);
                QMetaObject::invokeMethod(pFile, "accept");
            });
            dlg.RunCommand(kIdOpenPackage);
            QVERIFY(box.Wait());
        }
        QCOMPARE(strBox, strBad + " is not a valid firmware package. It was not sent.");
        QCOMPARE(dlg.GetState().m_strPackagePath, std::string());
        QCOMPARE(Text(dlg, kIdPackageText), QString("TVK35/50 NRP7/70  V260"));
        QCOMPARE(dlg.GetPopupFor(kKeyRButton), EPopup::Plain);
        QString strLine;
        CWhenUp about(
            [&](QWidget* pUp) {
                auto* pAbout = qobject_cast<CAboutDlg*>(pUp);
                strLine = pAbout->GetUpgradeForLabel()->text();
                pAbout->GetOkButton()->click();
            },
            "CAboutDlg");
        dlg.RunCommand(kIdAbout);
        QVERIFY(about.Wait());
        QCOMPARE(strLine, QString("Upgrade for TVK35/50 NRP7/70  V260"));
    }

    void enterPressesTheFocusedOrDefaultButton() {
        CScriptedMachine machine;
        CVersionUpDlg dlg(nullptr, machine.MakeLink());
        dlg.show();
        QApplication::setActiveWindow(&dlg);
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QCOMPARE(Text(dlg, kIdStepText), QString::fromStdString(LoadString(112)));
        QVERIFY(dlg.GetControl(kIdBack)->isEnabled());
        dlg.GetControl(kIdBack)->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QCOMPARE(Text(dlg, kIdStepText), QString::fromStdString(LoadString(111)));
        // Back disabled on Start: Enter goes to "Next >>" again.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Enter);
        QCOMPARE(Text(dlg, kIdStepText), QString::fromStdString(LoadString(112)));

        // The step text takes line breaks: there Return and Enter press no button, so the check
        // of the Connect step does not start.
        dlg.GetControl(kIdStepText)->setFocus();
        QCOMPARE(QApplication::focusWidget(), dlg.GetControl(kIdStepText));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Enter);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Enter, Qt::KeypadModifier);
        QCOMPARE(Text(dlg, kIdStepText), QString::fromStdString(LoadString(112)));
        QCOMPARE(machine.m_nChecks, 0);
    }

    // The status line shows the machine's reply byte for byte, whatever the bytes.
    void statusShowsTheReplyOneCharacterPerByte() {
        CScriptedMachine machine;
        machine.m_strReply = "V250 TVK-50\x80\xB5\xE9\xFF";
        CVersionUpDlg dlg(nullptr, machine.MakeLink());
        dlg.show();
        dlg.GetSteps().Enter(EStep::Connect);
        static_cast<QPushButton*>(dlg.GetControl(kIdNext))->click();
        QVERIFY(WaitIdle(dlg));
        QCOMPARE(machine.m_nChecks, 1);
        const QString strShown = Text(dlg, kIdStatus);
        QCOMPARE(strShown.size(), 15);
        QCOMPARE(strShown,
                 QString("V250 TVK-50") + QChar(0x80) + QChar(0xB5) + QChar(0xE9) + QChar(0xFF));
    }

    void escapeEndsTheWindowOnAnyStep() {
        for (int nNexts : {0, 3}) {
            CScriptedMachine machine;
            CVersionUpDlg dlg(nullptr, machine.MakeLink());
            QTimer::singleShot(0, &dlg, [&] {
                for (int n = 0; n < nNexts; ++n) {
                    static_cast<QPushButton*>(dlg.GetControl(kIdNext))->click();
                    static_cast<void>(WaitIdle(dlg));
                }
                QTest::keyClick(&dlg, Qt::Key_Escape);
                // Should Escape not end the window, end it with another result than Cancel so
                // the comparison below fails at once instead of exec() waiting for ever.
                QTimer::singleShot(0, &dlg, [&] {
                    if (dlg.isVisible())
                        dlg.done(-1);
                });
            });
            QCOMPARE(dlg.exec(), kIdCancel);
            QCOMPARE(machine.m_nChecks, nNexts >= 2 ? 1 : 0);
        }
    }

    // Input that arrives while the machine is asked comes to nothing, whichever way it comes: a
    // right double-click and a Next posted in one batch, once as the batch whose Next starts the
    // run (the popup the double-click queued would open behind it) and once while the run goes
    // on, open no popup and start no second run; the run moves the wizard by exactly one step.
    void inputDuringARunComesToNothing_data() {
        QTest::addColumn<int>("from");
        QTest::addColumn<QString>("reached");
        QTest::newRow("check") << int(EStep::Connect)
                               << QString::fromStdString(LoadString(kIdsUnplugAdapter));
        QTest::newRow("transfer") << int(EStep::PlugAdapter)
                                  << QString::fromStdString(LoadString(kIdsTransferDone));
    }
    void inputDuringARunComesToNothing() {
        QFETCH(int, from);
        QFETCH(QString, reached);
        CScriptedMachine machine;
        CVersionUpDlg dlg(nullptr, machine.MakeLink());
        CHold hold;
        machine.m_fnDuringCheck = machine.m_fnDuringTransfer = [&](IOperator&) { hold.Wait(); };
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        dlg.GetSteps().Enter(static_cast<EStep>(from));
        QWidget* pNext = dlg.GetControl(kIdNext);

        // Posts the batch and waits until it and what it queued in turn have been handled; true
        // when a popup came up meanwhile (it is closed again).
        auto handleBatch = [&] {
            const QPoint pt = dlg.GetPictureCentre();
            QCoreApplication::postEvent(&dlg, new QMouseEvent(QEvent::MouseButtonDblClick, pt,
                                                              dlg.mapToGlobal(pt), Qt::RightButton,
                                                              Qt::RightButton, Qt::NoModifier));
            const QPoint ptNext = pNext->rect().center();
            for (QEvent::Type eType : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease})
                QCoreApplication::postEvent(
                    pNext, new QMouseEvent(eType, ptNext, pNext->mapToGlobal(ptNext),
                                           Qt::LeftButton, Qt::LeftButton, Qt::NoModifier));
            bool bHandled = false, bPopup = false;
            QMetaObject::invokeMethod(
                &dlg,
                [&] {
                    QMetaObject::invokeMethod(
                        &dlg,
                        [&] {
                            if (QWidget* pPopup = QApplication::activePopupWidget()) {
                                bPopup = true;
                                pPopup->close();
                            }
                            bHandled = true;
                        },
                        Qt::QueuedConnection);
                },
                Qt::QueuedConnection);
            return QTest::qWaitFor([&] { return bHandled; }, 10'000) && !bPopup;
        };

        QVERIFY2(handleBatch(), "a popup came up as the run started");
        QVERIFY(QTest::qWaitFor([&] { return hold.IsHeld(); }, 10'000));
        QVERIFY2(handleBatch(), "a popup came up during the run");
        QVERIFY(dlg.IsBusy());
        hold.Release();
        QVERIFY(WaitIdle(dlg));
        QCOMPARE(machine.m_nChecks + machine.m_nTransferCalls, 1);
        QCOMPARE(Text(dlg, kIdStepText), reached.replace("\r\n", "\n"));
        QVERIFY(!QApplication::activePopupWidget());
    }

    void transferKeepsTheWindowDisabled() {
        CScriptedMachine machine;
        CVersionUpDlg dlg(nullptr, machine.MakeLink());
        dlg.show();
        bool bDisabledDuring = false;
        machine.m_fnDuringTransfer = [&](IOperator& op) {
            std::unique_ptr<IProgressSink> pProgress = op.CreateProgress();
            pProgress->Create();
            QMetaObject::invokeMethod(
                &dlg, [&] { bDisabledDuring = !dlg.isEnabled(); }, Qt::BlockingQueuedConnection);
        };
        dlg.GetSteps().Enter(EStep::PlugAdapter);
        static_cast<QPushButton*>(dlg.GetControl(kIdNext))->click();
        QVERIFY(WaitIdle(dlg));
        QVERIFY(bDisabledDuring);
        QVERIFY(dlg.isEnabled());
        QCOMPARE(Text(dlg, kIdStepText),
                 QString("Transit completed.\nMake sure LED blinks slowly."));
        QCOMPARE(Text(dlg, kIdStatus), QString("V260"));
    }

    // A window that goes while a transfer still shows its progress dialog (the program ends
    // under a run): the run ends at its next cancel point, and its dialog goes with the next
    // events, through the same operator and dialog the program gives its worker.
    void aDialogTheWindowLeavesUnderARunGoesWithIt() {
        CScriptedMachine machine;
        auto pDlg = std::make_unique<CVersionUpDlg>(nullptr, machine.MakeLink());
        pDlg->show();
        std::atomic<bool> bCreated{false}, bEnded{false};
        machine.m_fnDuringTransfer = [&](IOperator& op) {
            std::unique_ptr<IProgressSink> pProgress = op.CreateProgress();
            pProgress->Create();
            bCreated = true;
            while (!pProgress->CheckCancel())
                std::this_thread::yield();
            pProgress.reset();
            bEnded = true;
        };
        pDlg->GetSteps().Enter(EStep::PlugAdapter);
        static_cast<QPushButton*>(pDlg->GetControl(kIdNext))->click();
        QPointer<CProgressDlg> pProgress;
        QVERIFY(QTest::qWaitFor(
            [&] {
                for (QWidget* pTop : QApplication::topLevelWidgets()) {
                    if (auto* p = qobject_cast<CProgressDlg*>(pTop); p && p->isVisible())
                        pProgress = p;
                }
                return bCreated && pProgress;
            },
            60'000));
        pDlg.reset();
        QVERIFY(bEnded);
        QTRY_VERIFY(pProgress.isNull());
    }

    void messagesCarryTheApplicationTitle() {
        CScriptedMachine machine;
        machine.m_transfers = {0};
        CVersionUpDlg dlg(nullptr, machine.MakeLink());
        dlg.show();
        QTemporaryDir dir;
        const QString strMissing = dir.path() + "/gone.ufw";
        QStringList texts, titles;
        auto record = [&](QWidget* pUp) {
            auto* pBox = qobject_cast<QMessageBox*>(pUp);
            QVERIFY(pBox);
            titles << pBox->windowTitle();
            texts << pBox->text();
            QCOMPARE(pBox->icon(), QMessageBox::NoIcon);
            QCOMPARE(pBox->standardButtons(), QMessageBox::Ok);
            pBox->button(QMessageBox::Ok)->click();
        };
        {
            CWhenUp when(record, "QMessageBox");
            dlg.RunCommand(kIdSendFirmware);
            QVERIFY(WaitIdle(dlg));
            QVERIFY(when.WasSeen());
            QCOMPARE(when.GetTransientParent(), dlg.windowHandle());
        }
        dlg.GetState().m_strPackagePath = strMissing.toStdString();
        {
            CWhenUp when(record, "QMessageBox");
            dlg.RunCommand(kIdSendFirmware);
            QVERIFY(WaitIdle(dlg));
            QVERIFY(when.WasSeen());
        }
        const QString strTitle = QString::fromStdString(GetApplicationTitle());
        QCOMPARE(titles, QStringList({strTitle, strTitle}));
        QCOMPARE(texts,
                 QStringList({"Transmission faild. Try again.", strMissing + " was not found."}));
        QCOMPARE(machine.m_nTransferCalls, 1);
    }

    void selectPortPresetsTheDialog() {
        CScriptedMachine machine;
        CVersionUpDlg dlg(nullptr, machine.MakeLink());
        dlg.show();
        dlg.GetState().m_strPort = "COM3:";
        QString strPreset;
        CWhenUp when([&](QWidget* pUp) {
            auto* pPort = qobject_cast<CPortDlg*>(pUp);
            QVERIFY(pPort);
            strPreset = pPort->GetList()->currentText();
            pPort->GetList()->setCurrentIndex(1);
            pPort->GetOkButton()->click();
        });
        dlg.RunCommand(kIdSelectPort);
        QCOMPARE(when.GetTransientParent(), dlg.windowHandle());
        QCOMPARE(strPreset, QString("COM3:"));
        QCOMPARE(Text(dlg, kIdPortText), QString("COM2:"));
    }

    void openStartsAtTheChosenFileWithBothFilters() {
        CScriptedMachine machine;
        CVersionUpDlg dlg(nullptr, machine.MakeLink());
        dlg.show();
        QTemporaryDir dir;
        const QString strOld = dir.path() + "/old.ufw";
        const QString strNew = dir.path() + "/firmware";
        QFile file(strNew);
        QVERIFY(file.open(QIODevice::WriteOnly));
        const std::vector<uint8_t> package = MakeSmallPackage(64, 1);
        file.write(reinterpret_cast<const char*>(package.data()), qint64(package.size()));
        file.close();
        dlg.GetState().m_strPackagePath = strOld.toStdString();
        QStringList filters, chosen;
        QString strFilter, strDir, strPreset;
        CWhenUp when([&](QWidget* pUp) {
            auto* pFile = qobject_cast<QFileDialog*>(pUp);
            QVERIFY(pFile);
            filters = pFile->nameFilters();
            strFilter = pFile->selectedNameFilter();
            strDir = pFile->directory().absolutePath();
            auto* pName = pFile->findChild<QLineEdit*>("fileNameEdit");
            QVERIFY(pName);
            strPreset = pName->text();
            // The name typed into the name field, as the operator does. selectFile() would leave
            // the field alone once it has the focus, and when it gets the focus is up to the
            // window system; the field's text is what the dialog then accepts.
            pName->setText(QFileInfo(strNew).fileName());
            chosen = pFile->selectedFiles();
            QMetaObject::invokeMethod(pFile, "accept");
        });
        dlg.RunCommand(kIdOpenPackage);
        QCOMPARE(when.GetTransientParent(), dlg.windowHandle());
        QCOMPARE(filters, QStringList({"ufw (*.ufw)", "All files (*)"}));
        QCOMPARE(strFilter, QString("ufw (*.ufw)"));
        QCOMPARE(strDir, QDir(dir.path()).absolutePath());
        QCOMPARE(strPreset, QString("old.ufw"));
        QCOMPARE(chosen, QStringList({strNew}));
        QCOMPARE(QString::fromStdString(dlg.GetState().m_strPackagePath), strNew);
        QCOMPARE(Text(dlg, kIdPackageText), QString("TVK35/50 NRP7/70  V261"));
        QCOMPARE(dlg.GetPopupFor(kKeyRButton), EPopup::Service);
    }

    // The whole upgrade as the operator makes it: the window runs modal as the program runs it,
    // every Next is clicked through the window system, and the real check and transfer talk to
    // the simulated machine on COM1. The progress dialog stands over the disabled main window.
    // A small loader and package keep the transfer to seconds at the line's speed.
    void wholeUpgradeWithTheSimulatedMachine() {
        const std::vector<uint8_t> loader = MakeBytes(40, 7), package = MakeBytes(700, 3);
        CResourceOverride resources;
        resources.Replace("BIN", kIdLoader, loader).Replace("BIN", kIdPackage, package);
        CPortsHome home;
        for (int n = 2; n <= 4; ++n)
            home.MakeAbsent(n);
        CMachineSim sim;
        sim.SetNormalMode(std::make_unique<CNormalMode>("V250 TVK-50;"));
        CBootMode* pMachine = StartBootMode(sim, home.GetPortsDir(), 1);
        QVERIFY(pMachine);

        CVersionUpDlg dlg;
        QString strMessage;
        CWhenUp message([&](QWidget* pUp) { strMessage = qobject_cast<QMessageBox*>(pUp)->text(); },
                        "QMessageBox");
        bool bProgressSeen = false, bProgressOnMain = false, bMainDisabled = false;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            for (QWidget* pTop : QApplication::topLevelWidgets()) {
                auto* pProgress = qobject_cast<CProgressDlg*>(pTop);
                if (bProgressSeen || !pProgress || !pProgress->isVisible())
                    continue;
                bProgressSeen = true;
                bProgressOnMain =
                    pProgress->windowHandle() &&
                    pProgress->windowHandle()->transientParent() == dlg.windowHandle();
                bMainDisabled = !dlg.isEnabled();
            }
        });
        watch.start(10);

        QStringList steps, ports, states;
        QTimer::singleShot(0, &dlg, [&] {
            if (QTest::qWaitForWindowExposed(&dlg)) {
                for (int n = 0; n < 6 && strMessage.isEmpty(); ++n) {
                    ClickThroughWindow(dlg, dlg.GetControl(kIdNext));
                    static_cast<void>(WaitIdle(dlg));
                    steps << Text(dlg, kIdStepText);
                    ports << Text(dlg, kIdPortText);
                    states << Text(dlg, kIdStatus);
                }
            }
            dlg.done(kIdCancel);
        });
        dlg.exec();
        sim.Stop();

        QCOMPARE(strMessage, QString());
        QCOMPARE(steps.size(), 6);
        QCOMPARE(steps[1],
                 QString::fromStdString(LoadString(kIdsUnplugAdapter)).replace("\r\n", "\n"));
        QCOMPARE(ports[1], QString("COM1:"));
        QCOMPARE(states[1], QString("V250 TVK-50"));
        QCOMPARE(steps[5], QString("Transit completed.\nMake sure LED blinks slowly."));
        QCOMPARE(states[5], QString("V260"));
        QVERIFY(bProgressSeen);
        QVERIFY(bProgressOnMain);
        QVERIFY(bMainDisabled);
        QVERIFY(dlg.isEnabled());
        QVERIFY(pMachine->GetLoader() == loader);
        QVERIFY(pMachine->GetPackage() == package);
        QVERIFY(pMachine->GetSettingsFaults().empty());
    }

    // Every text can be read whole, in both languages with their desktop fonts (fontconfig
    // gives a Japanese desktop IPAGothic): every step text without scrolling either way, no
    // line of it wider than the box, the top line and the status line without losing
    // characters. windows_step_texts holds the Win32 window to the same.
    void textsFitTheirControls_data() {
        QTest::addColumn<QString>("lang");
        QTest::addColumn<QString>("family");
        QTest::newRow("English") << QString("C") << QString("DejaVu Sans");
        QTest::newRow("Japanese") << QString("ja_JP.UTF-8") << QString("IPAGothic");
    }
    void textsFitTheirControls() {
        QFETCH(QString, lang);
        QFETCH(QString, family);
        CLanguage language(qPrintable(lang));
        const QFont fontBefore = QApplication::font();
        QFont font = fontBefore;
        font.setFamily(family);
        // Without the family fontconfig gives another font, which may fit where this one would
        // not, or draw the characters this one lacks: the check would pass unseen.
        QVERIFY2(QFontInfo(font).family() == family,
                 qPrintable(family + " is not installed (got " + QFontInfo(font).family() + ")"));
        const QFontMetrics metrics(font);
        QApplication::setFont(font);
        CScriptedMachine machine;
        CVersionUpDlg dlg(nullptr, machine.MakeLink());
        dlg.show();
        auto* pText = static_cast<QPlainTextEdit*>(dlg.GetControl(kIdStepText));
        const std::vector<unsigned> ids = StepTextIds();
        QCOMPARE(ids.size(), size_t(12));
        for (unsigned nId : ids) {
            dlg.GetState().m_strStep = LoadString(nId);
            for (char32_t ch : QString::fromStdString(dlg.GetState().m_strStep).toUcs4()) {
                QVERIFY2(ch == '\r' || ch == '\n' || metrics.inFontUcs4(ch),
                         qPrintable(QString("text %1: U+%2 is not in %3")
                                        .arg(nId)
                                        .arg(uint(ch), 4, 16, QChar('0'))
                                        .arg(family)));
            }
            dlg.RefreshControls();
            QApplication::processEvents();
            QVERIFY2(!pText->verticalScrollBar()->isVisible(),
                     qPrintable(QString("text %1 needs scrolling").arg(nId)));
            // Each line as the box lays it out, against the room the box gives a line.
            const qreal nRoom =
                pText->viewport()->width() - 2 * pText->document()->documentMargin();
            for (QTextBlock block = pText->document()->begin(); block.isValid();
                 block = block.next()) {
                for (int nLine = 0; nLine < block.layout()->lineCount(); ++nLine) {
                    const QTextLine line = block.layout()->lineAt(nLine);
                    QVERIFY2(
                        line.naturalTextWidth() <= nRoom,
                        qPrintable(QString("text %1: \"%2\" is %3 wide in a box of %4")
                                       .arg(nId)
                                       .arg(block.text().mid(line.textStart(), line.textLength()))
                                       .arg(line.naturalTextWidth())
                                       .arg(nRoom)));
                }
            }
            QVERIFY(!pText->horizontalScrollBar()->isVisible());
        }
        dlg.GetState().m_strPort = "COM4:";
        dlg.GetState().m_strStatus = "V250 NRP-70";
        dlg.RefreshControls();
        for (int nId : {kIdPortText, kIdPackageText, kIdStatus}) {
            auto* pLabel = static_cast<QLabel*>(dlg.GetControl(nId));
            QVERIFY2(pLabel->fontMetrics().horizontalAdvance(pLabel->text()) <=
                         pLabel->contentsRect().width(),
                     qPrintable(pLabel->text()));
        }
        QApplication::setFont(fontBefore);
    }

    void japaneseTexts() {
        CLanguage language("ja_JP.UTF-8");
        CScriptedMachine machine;
        CVersionUpDlg dlg(nullptr, machine.MakeLink());
        dlg.show();
        QCOMPARE(Text(dlg, kIdStepText), QString::fromUtf8("本体にｽｷｬﾝﾕﾆｯﾄを取り付けます。"));
        QStringList items;
        CWhenUp when([&](QWidget* pUp) {
            items = ItemsOf(pUp);
            pUp->close();
        });
        RightDoubleClick(dlg, dlg.GetPictureCentre(), Qt::RightButton, Qt::NoModifier);
        QVERIFY(when.Wait());
        QCOMPARE(items.last(), QString::fromUtf8("&ﾊﾞｰｼﾞｮﾝ情報..."));
        // A font with the Japanese characters is there, or they would show as boxes.
        QVERIFY(!QFontDatabase::families(QFontDatabase::Japanese).isEmpty());
        static_cast<QPushButton*>(dlg.GetControl(kIdNext))->click();
        static_cast<QPushButton*>(dlg.GetControl(kIdNext))->click();
        QVERIFY(WaitIdle(dlg));
        QCOMPARE(Text(dlg, kIdStepText),
                 QString::fromUtf8("電源SWを切らずに AC ｱﾀﾞﾌﾟﾀを取り外します。"));
    }

private:
    static QString Text(CVersionUpDlg& dlg, int nId) {
        QWidget* pControl = dlg.GetControl(nId);
        if (auto* pEdit = qobject_cast<QPlainTextEdit*>(pControl))
            return pEdit->toPlainText();
        return static_cast<QLabel*>(pControl)->text();
    }
};

QTEST_MAIN(CVersionUpDlgTest)
#include "VersionUpDlgTest.moc"
