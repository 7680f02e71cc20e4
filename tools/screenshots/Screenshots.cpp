// tools/screenshots/versionup OUTDIR: shows the real main window on the display in force, walks
// every step with a scripted machine behind it (the check passes, the first transfer fails, the
// second succeeds), opens the popups, the About box and a message, and writes one PNG of the screen
// around the windows for each. The language follows LANG, as in the program.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <cstdio>
#include <functional>

#include "qt/AboutDlg.h"
#include "qt/VersionUpApp.h"
#include "qt/VersionUpDlg.h"
#include "resources/Resources.h"
#include "resources/StringIds.h"
#include "resources/Strings.h"

namespace {

class CShooter {
public:
    explicit CShooter(const QString& strDir) : m_dir(strDir) {}

    // Lets the display catch up, then saves the screen around every visible window.
    void Shoot(const QString& strName) {
        Settle();
        QRect rc;
        for (QWidget* pWindow : QApplication::topLevelWidgets()) {
            if (pWindow->isVisible())
                rc |= pWindow->frameGeometry();
        }
        rc &= QGuiApplication::primaryScreen()->geometry();
        const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0, rc.x(), rc.y(),
                                                                          rc.width(), rc.height());
        const QString strPath = m_dir.filePath(strName + ".png");
        if (!shot.save(strPath))
            std::fprintf(stderr, "screenshots: cannot write %s\n", qPrintable(strPath));
        else
            std::printf("%s\n", qPrintable(strPath));
    }

    // Shoots the next popup or dialog once it is up, then closes it with fnClose.
    void ShootWhenUp(const QString& strName, std::function<void(QWidget*)> fnClose) {
        auto* pTimer = new QTimer;
        QObject::connect(pTimer, &QTimer::timeout, [this, pTimer, strName, fnClose] {
            QWidget* pUp = QApplication::activePopupWidget();
            if (!pUp)
                pUp = QApplication::activeModalWidget();
            if (!pUp || qobject_cast<CVersionUpDlg*>(pUp) || !pUp->isVisible())
                return;
            pTimer->stop();
            pTimer->deleteLater();
            Shoot(strName);
            fnClose(pUp);
        });
        pTimer->start(50);
    }

    static void Settle() {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 300) {
            QApplication::processEvents();
            QThread::msleep(20);
        }
    }

private:
    QDir m_dir;
};

// The check and the transfer run on the window's worker; the shots are taken on this thread.
void OnWindowThread(const std::function<void()>& fn) {
    QMetaObject::invokeMethod(qApp, fn, Qt::BlockingQueuedConnection);
}

// Until the window's run on its worker has ended.
void WaitIdle(const CVersionUpDlg& dlg) {
    while (dlg.IsBusy()) {
        QApplication::processEvents();
        QThread::msleep(5);
    }
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    KeepNoSettings();
    if (argc != 2) {
        std::fprintf(stderr, "usage: tools/screenshots/versionup OUTDIR\n");
        return 2;
    }
    QDir().mkpath(argv[1]);
    CShooter shooter(argv[1]);
    int nTransferResult = 0;

    CMachineLink link;
    link.m_fnCheckFirmwareVersion = [&](CWizardState& state, IOperator& op, const char*) {
        op.BeginWaitCursor();
        OnWindowThread([&] { shooter.Shoot("03-version-check"); });
        op.EndWaitCursor();
        state.m_strPort = "COM1:";
        state.m_strStatus = "V250 TVK-50";
        state.RefreshControls();
        return true;
    };
    link.m_fnTransferFirmware = [&](const std::string&, const std::vector<uint8_t>*,
                                    IOperator& op) {
        std::unique_ptr<IProgressSink> pProgress = op.CreateProgress();
        pProgress->Create();
        pProgress->SetMessage(LoadString(kIdsUpgrading));
        pProgress->SetRange(0, 143169);
        pProgress->SetPos(61200);
        if (nTransferResult)
            OnWindowThread([&] { shooter.Shoot("08-upgrade"); });
        return nTransferResult;
    };

    CVersionUpDlg dlg(nullptr, link);
    dlg.SetAboutAction(ShowAboutBox);
    auto* pNext = static_cast<QPushButton*>(dlg.GetControl(kIdNext));
    dlg.show();
    shooter.Shoot("01-start");
    pNext->click();
    shooter.Shoot("02-connect");
    pNext->click(); // the check passes and moves on by itself
    WaitIdle(dlg);
    shooter.Shoot("04-unplug-adapter");
    pNext->click();
    shooter.Shoot("05-unplug-j9-j10");
    pNext->click();
    shooter.Shoot("06-plug-j1-j2");
    pNext->click();
    shooter.Shoot("07-plug-adapter");
    pNext->click(); // the first transfer fails
    WaitIdle(dlg);
    shooter.Shoot("10-retry");
    pNext->click();
    nTransferResult = 1;
    pNext->click();
    WaitIdle(dlg);
    shooter.Shoot("09-transfer-done");
    pNext->click();
    shooter.Shoot("11-unplug-j1-j2");
    pNext->click();
    shooter.Shoot("12-plug-j9-j10");
    pNext->click();
    shooter.Shoot("13-finished");

    auto rightDoubleClick = [&](Qt::KeyboardModifiers modifiers) {
        const QPoint pt = dlg.GetPictureCentre();
        QMouseEvent event(QEvent::MouseButtonDblClick, pt, dlg.mapToGlobal(pt), Qt::RightButton,
                          Qt::RightButton, modifiers);
        QApplication::sendEvent(&dlg, &event);
    };
    bool bDone = false;
    shooter.ShootWhenUp("14-popup", [&](QWidget* pUp) {
        pUp->close();
        bDone = true;
    });
    rightDoubleClick(Qt::NoModifier);
    while (!bDone)
        shooter.Settle();
    bDone = false;
    shooter.ShootWhenUp("15-service-popup", [&](QWidget* pUp) {
        pUp->close();
        bDone = true;
    });
    rightDoubleClick(Qt::ShiftModifier | Qt::ControlModifier);
    while (!bDone)
        shooter.Settle();

    shooter.ShootWhenUp("16-about", [](QWidget* pUp) { static_cast<QDialog*>(pUp)->accept(); });
    dlg.RunCommand(kIdAbout);
    nTransferResult = 0;
    shooter.ShootWhenUp("17-message", [](QWidget* pUp) { static_cast<QDialog*>(pUp)->accept(); });
    dlg.RunCommand(kIdSendFirmware);
    WaitIdle(dlg);

    // A picture chosen where a package should be: refused before the port is opened.
    QTemporaryDir chosen;
    const QString strPicture = chosen.filePath("photo.ufw");
    QFile picture(strPicture);
    const CResource bitmap = FindResource("BITMAP", kIdbScanUnit);
    if (!picture.open(QIODevice::WriteOnly) ||
        picture.write(reinterpret_cast<const char*>(bitmap.m_pData), qint64(bitmap.m_nSize)) < 0) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(strPicture));
        return 1;
    }
    picture.close();
    dlg.GetState().m_strPackagePath = strPicture.toStdString();
    shooter.ShootWhenUp("18-not-a-package",
                        [](QWidget* pUp) { static_cast<QDialog*>(pUp)->accept(); });
    dlg.RunCommand(kIdSendFirmware);
    WaitIdle(dlg);

    // The same picture chosen with Open...: refused at once, and the top line and the About box
    // go on naming the built-in package.
    dlg.GetState().m_strPackagePath.clear();
    shooter.ShootWhenUp("19-open-refused", [&](QWidget* pUp) {
        auto* pFile = qobject_cast<QFileDialog*>(pUp);
        if (!pFile) {
            static_cast<QDialog*>(pUp)->reject();
            return;
        }
        shooter.ShootWhenUp("19-open-refused",
                            [](QWidget* pBox) { static_cast<QDialog*>(pBox)->accept(); });
        pFile->findChild<QLineEdit*>("fileNameEdit")->setText(strPicture);
        QMetaObject::invokeMethod(pFile, "accept");
    });
    dlg.RunCommand(kIdOpenPackage);
    shooter.ShootWhenUp("20-about-after-refused-open",
                        [](QWidget* pUp) { static_cast<QDialog*>(pUp)->accept(); });
    dlg.RunCommand(kIdAbout);
    return 0;
}
