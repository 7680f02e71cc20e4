#include "qt/PortDlg.h"

#include <sys/stat.h>

#include <QComboBox>
#include <QPushButton>
#include <QShowEvent>

#include "device/PortList.h"
#include "ports/NetSerialDevice.h"
#include "ports/PortMap.h"
#include "qt/DialogUnits.h"
#include "resources/Strings.h"

CPortDlg::CPortDlg(QWidget* pParent)
    : QDialog(pParent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                           Qt::MSWindowsFixedSizeDialogHint) {
    setWindowTitle("Select COM port");
    const CDialogUnits units(font());
    setFixedSize(units.X(146), units.Y(40));

    // Template order, which is also the tab order: the OK button first, then the list.
    m_pOk = new QPushButton("OK", this);
    m_pOk->setDefault(true);
    m_pOk->setGeometry(units.Rect(84, 12, 50, 14));
    connect(m_pOk, &QPushButton::clicked, this, &CPortDlg::accept);

    m_pList = new QComboBox(this);
    m_pList->setEditable(true);
    // Typed text never becomes an item: the result is always one of the listed names.
    m_pList->setInsertPolicy(QComboBox::NoInsert);
    m_pList->setMaxVisibleItems(kFixedPortCount);
    QRect rcList = units.Rect(10, 12, 50, 56);
    m_pList->setGeometry(rcList.x(), rcList.y(), rcList.width(), m_pList->sizeHint().height());
    for (const std::string& strPort : ListPortNames()) {
        m_pList->addItem(QString::fromStdString(strPort));
        m_pList->setItemData(m_pList->count() - 1, DescribeDevice(strPort), Qt::ToolTipRole);
    }
    connect(m_pList, &QComboBox::currentIndexChanged, this, &CPortDlg::UpdateToolTip);
}

CPortDlg::~CPortDlg() = default;

bool CPortDlg::Run(QWidget* pOwner, std::string& strPort) {
    CPortDlg dlg(pOwner);
    dlg.m_strPort = strPort;
    if (dlg.exec() != QDialog::Accepted)
        return false;
    strPort = dlg.m_strPort;
    return true;
}

QString CPortDlg::DescribeDevice(const std::string& strPort) {
    std::string strDevice = ResolvePortDevice(strPort);
    // A port on a device server is reached over the network, not found on this computer.
    if (IsNetworkPortName(strDevice))
        return QString::fromStdString(strDevice);
    struct stat st {};
    if (!strDevice.empty() && ::stat(strDevice.c_str(), &st) == 0)
        return QString::fromStdString(strDevice);
    bool bJapanese = GetUserLanguage() == ELanguage::Japanese;
    return bJapanese ? QString::fromUtf8("接続されていません") : QString("not present");
}

void CPortDlg::showEvent(QShowEvent* pEvent) {
    // Each showing starts from the caller's preset, like a dialog made anew from its template.
    if (!pEvent->spontaneous())
        OnInitDialog();
    QDialog::showEvent(pEvent);
}

void CPortDlg::OnInitDialog() {
    m_pList->setCurrentIndex(0);
    if (!m_strPort.empty()) {
        int nFound = m_pList->findText(QString::fromStdString(m_strPort), Qt::MatchStartsWith);
        if (nFound >= 0)
            m_pList->setCurrentIndex(nFound);
    } else {
        m_strPort = m_pList->itemText(0).toStdString();
    }
    UpdateToolTip();
}

void CPortDlg::accept() {
    QDialog::accept();
    int nSelected = m_pList->currentIndex();
    if (nSelected >= 0)
        m_strPort = m_pList->itemText(nSelected).toStdString();
}

void CPortDlg::UpdateToolTip() {
    m_pList->setToolTip(m_pList->itemData(m_pList->currentIndex(), Qt::ToolTipRole).toString());
}
