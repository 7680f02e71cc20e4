#include "qt/AboutDlg.h"

#include <QLabel>
#include <QPushButton>

#include "qt/AppIcon.h"
#include "qt/DialogUnits.h"

CAboutDlg::CAboutDlg(QWidget* pParent)
    : QDialog(pParent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                           Qt::MSWindowsFixedSizeDialogHint) {
    setWindowTitle("About");
    const CDialogUnits units(font());
    setFixedSize(units.Size(202, 58));

    m_pIcon = new QLabel(this);
    const QRect rcIcon = units.Rect(10, 8, 20, 20);
    // An icon is shown at its own size, 32 x 32, from the frame's top left.
    m_pIcon->setGeometry(rcIcon.x(), rcIcon.y(), 32, 32);
    m_pIcon->setPixmap(GetAppIconPixmap(32, devicePixelRatioF()));

    // The tool's own version: it stays 2.50 whatever package the tool carries.
    m_pVersion = new QLabel("Tool Version 2.50", this);
    m_pVersion->setGeometry(units.Rect(40, 8, 96, 8));
    m_pVersion->setAlignment(Qt::AlignCenter);
    m_pVersion->setTextFormat(Qt::PlainText);

    m_pUpgradeFor = new QLabel(this);
    // Wider than the template's 130 units, out to the right margin: with a Japanese desktop font
    // the line with its 22-character package text did not fit and lost its ends.
    m_pUpgradeFor->setGeometry(units.Rect(36, 28, 160, 8));
    m_pUpgradeFor->setAlignment(Qt::AlignCenter);
    m_pUpgradeFor->setTextFormat(Qt::PlainText);

    m_pOk = new QPushButton("OK", this);
    m_pOk->setGeometry(units.Rect(144, 8, 50, 14));
    m_pOk->setDefault(true);
    connect(m_pOk, &QPushButton::clicked, this, &QDialog::accept);
}

CAboutDlg::~CAboutDlg() = default;

void CAboutDlg::setVisible(bool bVisible) {
    if (bVisible)
        m_pUpgradeFor->setText(QString::fromStdString(m_strUpgradeFor));
    QDialog::setVisible(bVisible);
}

void ShowAboutBox(QWidget* pParent, const std::string& strUpgradeFor) {
    CAboutDlg dlg(pParent);
    dlg.m_strUpgradeFor = strUpgradeFor;
    dlg.exec();
}
