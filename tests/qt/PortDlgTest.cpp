// The port dialog on the offscreen platform: what the preset selects, what OK yields, and that
// the operator's typing never becomes the result.
#include <filesystem>
#include <fstream>

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include "qt/DialogUnits.h"
#include "qt/PortDlg.h"
#include "tests/support/SimPorts.h"

class PortDlgTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void presetSelectsFirstItemBeginningWithIt_data();
    void presetSelectsFirstItemBeginningWithIt();
    void okTakesSelectedItemNeverTypedText();
    void modalRunStartsFromPreset();
    void escapeAndCloseBoxCancel();
    void listsPortsAboveCom4InNumberOrder();
    void tooltipsShowMappedDevice();
    void layoutFollowsTemplate();

private:
    CSimPorts m_ports;
};

void PortDlgTest::initTestCase() {
    // A ports folder of our own: COM1 missing, COM2 the null device, the rest unmapped links.
    m_ports.LinkTo(1, "/nonexistent/ttyUSB9");
    m_ports.LinkTo(2, "/dev/null");
    m_ports.LinkTo(3, "/nonexistent/ttyUSB8");
    m_ports.LinkTo(4, "/nonexistent/ttyUSB7");
}

void PortDlgTest::presetSelectsFirstItemBeginningWithIt_data() {
    QTest::addColumn<QString>("preset");
    QTest::addColumn<int>("selected");
    QTest::addColumn<QString>("portAfterInit");
    QTest::addColumn<QString>("portAfterOk");
    QTest::newRow("exact") << "COM3:" << 2 << "COM3:"
                           << "COM3:";
    QTest::newRow("other case, no colon") << "com3" << 2 << "com3"
                                          << "COM3:";
    QTest::newRow("common beginning") << "COM" << 0 << "COM"
                                      << "COM1:";
    QTest::newRow("unknown keeps its text until OK") << "COM9:" << 0 << "COM9:"
                                                     << "COM1:";
    QTest::newRow("device path") << "/dev/ttyUSB0" << 0 << "/dev/ttyUSB0"
                                 << "COM1:";
    QTest::newRow("longer than the item") << "COM2:x" << 0 << "COM2:x"
                                          << "COM1:";
    QTest::newRow("empty") << "" << 0 << "COM1:"
                           << "COM1:";
}

void PortDlgTest::presetSelectsFirstItemBeginningWithIt() {
    QFETCH(QString, preset);
    QFETCH(int, selected);
    QFETCH(QString, portAfterInit);
    QFETCH(QString, portAfterOk);
    CPortDlg dlg;
    dlg.m_strPort = preset.toStdString();
    dlg.show();
    QCOMPARE(dlg.GetList()->count(), 4);
    QCOMPARE(dlg.GetList()->currentIndex(), selected);
    QCOMPARE(QString::fromStdString(dlg.m_strPort), portAfterInit);
    dlg.GetOkButton()->click();
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QCOMPARE(QString::fromStdString(dlg.m_strPort), portAfterOk);
}

void PortDlgTest::okTakesSelectedItemNeverTypedText() {
    for (const char* pszTyped : {"XYZ", "/dev/ttyUSB0", "COM7:"}) {
        CPortDlg dlg;
        dlg.m_strPort = "COM3:";
        dlg.show();
        QLineEdit* pEdit = dlg.GetList()->lineEdit();
        QVERIFY(pEdit);
        pEdit->setFocus();
        pEdit->selectAll();
        QTest::keyClicks(pEdit, pszTyped);
        QCOMPARE(pEdit->text(), QString(pszTyped));
        QTest::keyClick(pEdit, Qt::Key_Return);
        if (dlg.isVisible())
            dlg.GetOkButton()->click();
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QCOMPARE(QString::fromStdString(dlg.m_strPort), QString("COM3:"));
        QCOMPARE(dlg.GetList()->count(), 4);
    }
    // Choosing another item is taken.
    CPortDlg dlg;
    dlg.m_strPort = "COM3:";
    dlg.show();
    dlg.GetList()->setCurrentIndex(3);
    dlg.GetOkButton()->click();
    QCOMPARE(QString::fromStdString(dlg.m_strPort), QString("COM4:"));
}

void PortDlgTest::modalRunStartsFromPreset() {
    // OK on the running dialog, after noting what the preset selected.
    auto answer = [](bool bOk, int& nSeenIndex) {
        QTimer::singleShot(0, [bOk, &nSeenIndex] {
            QWidget* pModal = QApplication::activeModalWidget();
            auto* pDlg = qobject_cast<CPortDlg*>(pModal);
            if (!pDlg) {
                // Whatever window is up goes, or Run would wait in it until the time-out.
                if (auto* pOther = qobject_cast<QDialog*>(pModal))
                    pOther->reject();
                QFAIL("the port dialog is not the modal window");
            }
            nSeenIndex = pDlg->GetList()->currentIndex();
            if (bOk)
                pDlg->GetOkButton()->click();
            else
                pDlg->reject();
        });
    };
    std::string strPort = "com2:";
    int nSeenIndex = -1;
    answer(true, nSeenIndex);
    QVERIFY(CPortDlg::Run(nullptr, strPort));
    QCOMPARE(nSeenIndex, 1);
    QCOMPARE(QString::fromStdString(strPort), QString("COM2:"));

    strPort = "COM4:";
    answer(false, nSeenIndex);
    QVERIFY(!CPortDlg::Run(nullptr, strPort));
    QCOMPARE(nSeenIndex, 3);
    QCOMPARE(QString::fromStdString(strPort), QString("COM4:"));

    strPort.clear();
    answer(true, nSeenIndex);
    QVERIFY(CPortDlg::Run(nullptr, strPort));
    QCOMPARE(QString::fromStdString(strPort), QString("COM1:"));
}

void PortDlgTest::listsPortsAboveCom4InNumberOrder() {
    m_ports.LinkTo(10, "/dev/null");
    m_ports.LinkTo(7, "/nonexistent/ttyUSB6");
    {
        CPortDlg dlg;
        dlg.m_strPort = "COM10:";
        dlg.show();
        QStringList items;
        for (int i = 0; i < dlg.GetList()->count(); ++i)
            items << dlg.GetList()->itemText(i);
        QCOMPARE(items, QStringList({"COM1:", "COM2:", "COM3:", "COM4:", "COM7:", "COM10:"}));
        QCOMPARE(dlg.GetList()->currentIndex(), 5);
        dlg.GetOkButton()->click();
        QCOMPARE(QString::fromStdString(dlg.m_strPort), QString("COM10:"));
    }
    m_ports.Absent(7);
    m_ports.Absent(10);
    CPortDlg dlg;
    QCOMPARE(dlg.GetList()->count(), 4);
}

void PortDlgTest::escapeAndCloseBoxCancel() {
    {
        CPortDlg dlg;
        dlg.m_strPort = "COM2:";
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        dlg.GetList()->setCurrentIndex(3);
        QTest::keyClick(dlg.GetList()->lineEdit(), Qt::Key_Escape);
        QVERIFY(!dlg.isVisible());
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
        QCOMPARE(QString::fromStdString(dlg.m_strPort), QString("COM2:"));
    }
    {
        CPortDlg dlg;
        dlg.m_strPort = "COM2:";
        dlg.show();
        QVERIFY(dlg.close());
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
        QCOMPARE(QString::fromStdString(dlg.m_strPort), QString("COM2:"));
    }
}

void PortDlgTest::tooltipsShowMappedDevice() {
    // COM4 a port on a device server, named by a file of the ports folder: there is nothing to
    // look at on this computer, and it is no less present for that.
    const std::string strCom4 = TestPortsDir() + "/com4";
    std::filesystem::remove(strCom4);
    std::ofstream(strCom4) << "rfc2217://127.0.0.1:4001\n";
    CPortDlg dlg;
    dlg.m_strPort = "COM2:";
    dlg.show();
    QComboBox* pList = dlg.GetList();
    QCOMPARE(pList->itemData(0, Qt::ToolTipRole).toString(), QString("not present"));
    QCOMPARE(pList->itemData(1, Qt::ToolTipRole).toString(), QString("/dev/null"));
    QCOMPARE(pList->toolTip(), QString("/dev/null"));
    pList->setCurrentIndex(2);
    QCOMPARE(pList->toolTip(), QString("not present"));
    QCOMPARE(pList->itemData(3, Qt::ToolTipRole).toString(), QString("rfc2217://127.0.0.1:4001"));
    std::filesystem::remove(strCom4);
    m_ports.LinkTo(4, "/nonexistent/ttyUSB7");
}

void PortDlgTest::layoutFollowsTemplate() {
    CPortDlg dlg;
    dlg.show();
    QCOMPARE(dlg.windowTitle(), QString("Select COM port"));
    QVERIFY(dlg.GetOkButton()->isDefault());
    // No Cancel button: OK is the only button.
    QCOMPARE(dlg.findChildren<QPushButton*>().size(), 1);
    // The template's dialog units, mapped as every dialog of the program maps them.
    const CDialogUnits units(dlg.font());
    QCOMPARE(dlg.size(), units.Size(146, 40));
    QRect rcOk = dlg.GetOkButton()->geometry();
    QRect rcList = dlg.GetList()->geometry();
    QCOMPARE(rcOk, units.Rect(84, 12, 50, 14));
    QCOMPARE(rcList.left(), units.X(10));
    QVERIFY(!rcOk.intersects(rcList));
    QVERIFY(dlg.rect().contains(rcOk));
    QVERIFY(dlg.rect().contains(rcList));
}

QTEST_MAIN(PortDlgTest)
#include "PortDlgTest.moc"
