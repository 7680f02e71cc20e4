// The main window on the offscreen platform, with a scripted machine behind it.
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QFontDatabase>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>

#include "app/AboutDlg.h"
#include "app/VersionUpApp.h"
#include "device/PortDlg.h"
#include "illustrations/Dib.h"
#include "resources/Strings.h"
#include "wizard/AppTitle.h"
#include "wizard/VersionUpDlg.h"

namespace {

// The machine: every check passes on "COM1:" with a TVK-50, every transfer returns the next
// scripted result (1 when none is left).
struct CScriptedMachine {
    std::vector<int> m_transfers;
    int m_nChecks = 0;
    int m_nTransferCalls = 0;
    std::function<void(IOperator&)> m_fnDuringTransfer;

    CMachineLink MakeLink() {
        CMachineLink link;
        link.m_fnCheckFirmwareVersion = [this](CWizardState& state, IOperator&, const char*) {
            ++m_nChecks;
            state.m_strPort = "COM1:";
            state.m_strStatus = "V250 TVK-50";
            state.RefreshControls();
            return true;
        };
        link.m_fnTransferFirmware = [this](const std::string&, CPackageFile*, IOperator& op) {
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
// that dialog's own loop until fnCheck closes it).
void WhenUp(std::function<void(QWidget*)> fnCheck) {
    auto* pTimer = new QTimer;
    QObject::connect(pTimer, &QTimer::timeout, [pTimer, fnCheck] {
        QWidget* pUp = QApplication::activePopupWidget();
        if (!pUp)
            pUp = QApplication::activeModalWidget();
        if (!pUp || !pUp->isVisible() || qobject_cast<CVersionUpDlg*>(pUp))
            return;
        pTimer->stop();
        pTimer->deleteLater();
        fnCheck(pUp);
    });
    pTimer->start(10);
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
        QCOMPARE(dlg.GetPicture()->m_bm.bmWidth, 256);
        QCOMPARE(dlg.GetPicture()->m_bm.bmHeight, 192);
        // Fixed size, no minimise or maximise box.
        QCOMPARE(dlg.minimumSize(), dlg.maximumSize());
        QVERIFY(!(dlg.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
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
        QCOMPARE(dlg.GetPictureCentre(),
                 QPoint(rcFrame.x() + 150, rcFrame.y() + 96));
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

    void popupForDoubleClick_data() {
        QTest::addColumn<int>("buttons");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<bool>("packagePath");
        QTest::addColumn<QString>("where");
        QTest::addColumn<QString>("popup");
        const int nRight = Qt::RightButton;
        const int nShiftCtrl = Qt::ShiftModifier | Qt::ControlModifier;
        QTest::newRow("no keys") << nRight << 0 << false << "picture" << "plainPopup";
        QTest::newRow("Shift+Ctrl") << nRight << nShiftCtrl << false << "picture" << "servicePopup";
        QTest::newRow("Shift+Ctrl, middle button down")
            << (nRight | Qt::MiddleButton) << nShiftCtrl << false << "picture" << "plainPopup";
        QTest::newRow("Shift only") << nRight << int(Qt::ShiftModifier) << false << "picture"
                                    << "plainPopup";
        QTest::newRow("package path set") << nRight << 0 << true << "picture" << "servicePopup";
        QTest::newRow("on the status line") << nRight << 0 << false << "status" << "plainPopup";
        QTest::newRow("on the text box") << nRight << 0 << false << "text" << "";
        QTest::newRow("on the port name") << nRight << nShiftCtrl << false << "port" << "";
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
        if (packagePath)
            dlg.GetState().m_strPackagePath = "/nowhere/other.ufw";
        const std::map<QString, QPoint> points = {
            {"picture", dlg.GetPictureCentre()},
            {"status", dlg.GetControl(kIdStatus)->geometry().center()},
            {"text", dlg.GetControl(kIdStepText)->geometry().center()},
            {"port", dlg.GetControl(kIdPortText)->geometry().center()},
        };
        QString strShown;
        QStringList items;
        WhenUp([&](QWidget* pUp) {
            strShown = pUp->objectName();
            items = ItemsOf(pUp);
            pUp->close();
        });
        RightDoubleClick(dlg, points.at(where), Qt::MouseButtons(buttons),
                         Qt::KeyboardModifiers(modifiers));
        if (popup.isEmpty()) {
            QTest::qWait(100);
            QVERIFY(QApplication::activePopupWidget() == nullptr);
            return;
        }
        QCOMPARE(strShown, popup);
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
        dlg.show();
        QString strVersion, strLine;
        bool bFits = false;
        // Chosen from the popup, as the operator does.
        WhenUp([&](QWidget* pPopup) {
            auto* pMenu = qobject_cast<QMenu*>(pPopup);
            pMenu->setActiveAction(pMenu->actions().last());
            QTest::keyClick(pMenu, Qt::Key_Return);
            WhenUp([&](QWidget* pUp) {
                auto* pAbout = qobject_cast<CAboutDlg*>(pUp);
                QVERIFY(pAbout);
                QCOMPARE(pAbout->windowTitle(), QString("About"));
                strVersion = pAbout->GetVersionLabel()->text();
                strLine = pAbout->GetUpgradeForLabel()->text();
                QLabel* pLine = pAbout->GetUpgradeForLabel();
                bFits = pLine->fontMetrics().horizontalAdvance(strLine) <= pLine->width();
                pAbout->GetOkButton()->click();
            });
        });
        RightDoubleClick(dlg, dlg.GetPictureCentre(), Qt::RightButton, Qt::NoModifier);
        QCOMPARE(strVersion, QString("Tool Version 2.50"));
        QCOMPARE(strLine, QString("Upgrade for TVK35/50 NRP7/70  V260"));
        QVERIFY2(bFits, "the About line is clipped");
        QCOMPARE(Text(dlg, kIdStepText), QString("Put the Scan Unit on the machine."));
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
    }

    void escapeEndsTheWindowOnAnyStep() {
        for (int nNexts : {0, 3}) {
            CScriptedMachine machine;
            CVersionUpDlg dlg(nullptr, machine.MakeLink());
            QTimer::singleShot(0, &dlg, [&] {
                for (int n = 0; n < nNexts; ++n)
                    static_cast<QPushButton*>(dlg.GetControl(kIdNext))->click();
                QTest::keyClick(&dlg, Qt::Key_Escape);
            });
            QCOMPARE(dlg.exec(), kIdCancel);
            QCOMPARE(machine.m_nChecks, nNexts >= 2 ? 1 : 0);
        }
    }

    void transferKeepsTheWindowDisabled() {
        CScriptedMachine machine;
        CVersionUpDlg dlg(nullptr, machine.MakeLink());
        dlg.show();
        bool bDisabledDuring = false;
        machine.m_fnDuringTransfer = [&](IOperator& op) {
            std::unique_ptr<IProgressSink> pProgress = op.CreateProgress();
            pProgress->Create();
            bDisabledDuring = !dlg.isEnabled();
        };
        dlg.GetSteps().Enter(EStep::PlugAdapter);
        static_cast<QPushButton*>(dlg.GetControl(kIdNext))->click();
        QVERIFY(bDisabledDuring);
        QVERIFY(dlg.isEnabled());
        QCOMPARE(Text(dlg, kIdStepText), QString::fromStdString(LoadString(117)));
        QCOMPARE(Text(dlg, kIdStatus), QString("V260"));
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
        WhenUp(record);
        dlg.RunCommand(kIdSendFirmware);
        dlg.GetState().m_strPackagePath = strMissing.toStdString();
        WhenUp(record);
        dlg.RunCommand(kIdSendFirmware);
        const QString strTitle = QString::fromStdString(GetApplicationTitle());
        QCOMPARE(titles, QStringList({strTitle, strTitle}));
        QCOMPARE(texts, QStringList({"Transmission faild. Try again.", strMissing + " was not found."}));
        QCOMPARE(machine.m_nTransferCalls, 1);
    }

    void selectPortPresetsTheDialog() {
        CScriptedMachine machine;
        CVersionUpDlg dlg(nullptr, machine.MakeLink());
        dlg.show();
        dlg.GetState().m_strPort = "COM3:";
        QString strPreset;
        WhenUp([&](QWidget* pUp) {
            auto* pPort = qobject_cast<CPortDlg*>(pUp);
            QVERIFY(pPort);
            strPreset = pPort->GetList()->currentText();
            pPort->GetList()->setCurrentIndex(1);
            pPort->GetOkButton()->click();
        });
        dlg.RunCommand(kIdSelectPort);
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
        file.write("PUF14303  TVK35/50 NRP7/70  V270....");
        file.close();
        dlg.GetState().m_strPackagePath = strOld.toStdString();
        QStringList filters;
        QString strFilter, strDir;
        WhenUp([&](QWidget* pUp) {
            auto* pFile = qobject_cast<QFileDialog*>(pUp);
            QVERIFY(pFile);
            filters = pFile->nameFilters();
            strFilter = pFile->selectedNameFilter();
            strDir = pFile->directory().absolutePath();
            pFile->selectFile(strNew);
            pFile->accept();
        });
        dlg.RunCommand(kIdOpenPackage);
        QCOMPARE(filters, QStringList({"ufw (*.ufw)", "All files (*)"}));
        QCOMPARE(strFilter, QString("ufw (*.ufw)"));
        QCOMPARE(strDir, QDir(dir.path()).absolutePath());
        QCOMPARE(QString::fromStdString(dlg.GetState().m_strPackagePath), strNew);
        QCOMPARE(Text(dlg, kIdPackageText), QString("TVK35/50 NRP7/70  V270"));
        QCOMPARE(dlg.GetPopupFor(kKeyRButton), EPopup::Service);
    }

    // Every step's text can be read whole in the text box, in both languages.
    void stepTextsFitTheTextBox() {
        for (const char* pszLang : {"C", "ja_JP.UTF-8"}) {
            CLanguage language(pszLang);
            CScriptedMachine machine;
            CVersionUpDlg dlg(nullptr, machine.MakeLink());
            dlg.show();
            auto* pText = static_cast<QPlainTextEdit*>(dlg.GetControl(kIdStepText));
            for (unsigned nId : {111u, 112u, 113u, 115u, 116u, 117u, 118u, 119u, 120u, 121u,
                                 122u, 123u}) {
                dlg.GetState().m_strStep = LoadString(nId);
                dlg.RefreshControls();
                QApplication::processEvents();
                QVERIFY2(!pText->verticalScrollBar()->isVisible(),
                         qPrintable(QString("%1 text %2 needs scrolling").arg(pszLang).arg(nId)));
            }
        }
    }

    void japaneseTexts() {
        CLanguage language("ja_JP.UTF-8");
        CScriptedMachine machine;
        CVersionUpDlg dlg(nullptr, machine.MakeLink());
        dlg.show();
        QCOMPARE(Text(dlg, kIdStepText), QString::fromUtf8("本体にｽｷｬﾝﾕﾆｯﾄを取り付けます。"));
        QStringList items;
        WhenUp([&](QWidget* pUp) {
            items = ItemsOf(pUp);
            pUp->close();
        });
        RightDoubleClick(dlg, dlg.GetPictureCentre(), Qt::RightButton, Qt::NoModifier);
        QCOMPARE(items.last(), QString::fromUtf8("&ﾊﾞｰｼﾞｮﾝ情報..."));
        // A font with the Japanese characters is there, or they would show as boxes.
        QVERIFY(!QFontDatabase::families(QFontDatabase::Japanese).isEmpty());
        static_cast<QPushButton*>(dlg.GetControl(kIdNext))->click();
        static_cast<QPushButton*>(dlg.GetControl(kIdNext))->click();
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
