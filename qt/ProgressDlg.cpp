#include "qt/ProgressDlg.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QWindow>

#include <algorithm>

#include "qt/DialogUnits.h"
#include "resources/StringIds.h"
#include "resources/Strings.h"

namespace {

// The window as its template lays it out, in dialog units.
constexpr int kDialogWidth = 186;
constexpr int kDialogHeight = 79;
constexpr QRect kMessageRect{13, 7, 158, 8};
constexpr QRect kPercentRect{85, 23, 18, 8};
constexpr QRect kBarRect{15, 34, 154, 13};
constexpr QRect kCancelRect{67, 58, 50, 14};

} // namespace

CProgressDlg::CProgressDlg(unsigned nTitleId, QWidget* pMainWindow)
    : QDialog(nullptr, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowCloseButtonHint),
      m_nTitleId(nTitleId ? nTitleId : kIdsSending), m_pMainWindow(pMainWindow) {
    // Parentless on purpose: a child of the disabled main window would be disabled with it. The
    // main window becomes its transient parent instead when it is shown.
    m_pMessage = new QLabel(this);
    m_pMessage->setObjectName(QStringLiteral("message"));
    m_pMessage->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    m_pPercent = new QLabel(QStringLiteral(" 0 %"), this);
    m_pPercent->setObjectName(QStringLiteral("percent"));
    m_pPercent->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_pProgress = new QProgressBar(this);
    m_pProgress->setObjectName(QStringLiteral("bar"));
    m_pProgress->setTextVisible(false);
    m_pCancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_pCancel->setObjectName(QStringLiteral("cancel"));
    m_pCancel->setDefault(true);
    connect(m_pCancel, &QPushButton::clicked, this, &CProgressDlg::reject);
    LayOut();
}

CProgressDlg::~CProgressDlg() {
    // The owner comes back first, so it is never left without an enabled window in front.
    RestoreOwner();
    hide();
}

void CProgressDlg::LayOut() {
    const CDialogUnits units(font());
    m_pMessage->setGeometry(units.Rect(kMessageRect));
    // The template's label is just wide enough for "100%" in the font it was drawn for; in
    // fonts with wider digits it grows to the right rather than clip the figure.
    QRect percent = units.Rect(kPercentRect);
    percent.setWidth(std::max(percent.width(),
                              m_pPercent->fontMetrics().horizontalAdvance(QStringLiteral("100%"))));
    m_pPercent->setGeometry(percent);
    m_pProgress->setGeometry(units.Rect(kBarRect));
    m_pCancel->setGeometry(units.Rect(kCancelRect));
    setFixedSize(units.X(kDialogWidth), units.Y(kDialogHeight));
}

int CProgressDlg::Create(QWidget* pOwner) {
    if (!pOwner)
        pOwner = m_pMainWindow ? m_pMainWindow.data() : QApplication::activeWindow();
    if (pOwner)
        pOwner = pOwner->window();
    if (pOwner == this)
        pOwner = nullptr;
    m_pOwner = pOwner;
    if (pOwner && pOwner->isEnabled()) {
        pOwner->setEnabled(false);
        m_bOwnerDisabled = 1;
    }

    // What the window starts with: a bar of 0 to 100 at the lower end and the title.
    m_pProgress->setRange(m_model.GetLower(), m_model.GetUpper());
    m_pProgress->setValue(m_model.GetPos());
    setWindowTitle(QString::fromStdString(LoadString(m_nTitleId)));

    winId();
    QWindow* pWindow = windowHandle();
    if (!pWindow) {
        RestoreOwner();
        return 0;
    }
    // As its transient child the dialog stays above the main window and is not blocked by it,
    // even when the main window runs modal.
    if (pOwner && pOwner->windowHandle())
        pWindow->setTransientParent(pOwner->windowHandle());
    if (pOwner)
        move(pOwner->frameGeometry().center() - rect().center());

    show();
    activateWindow();
    m_pCancel->setFocus();
    return 1;
}

void CProgressDlg::RestoreOwner() {
    if (m_bOwnerDisabled && m_pOwner)
        m_pOwner->setEnabled(true);
    m_bOwnerDisabled = 0;
}

void CProgressDlg::SetMessage(const std::string& strText) {
    m_pMessage->setText(QString::fromStdString(strText));
}

void CProgressDlg::SetRange(int32_t nLower, int32_t nUpper) {
    m_model.SetRange(nLower, nUpper);
    m_pProgress->setRange(nLower, nUpper);
}

int CProgressDlg::SetPos(int32_t nPos) {
    bool bChanged = false;
    const int32_t nPrevious = m_model.SetPos(nPos, bChanged);
    if (!bChanged)
        return nPrevious;
    m_pProgress->setValue(m_model.GetPos());
    const QString strText = QString::fromStdString(m_model.GetPercent());
    // Only a change of the whole percentage redraws the label, and it redraws at once, as a
    // native static control does: the last position and the dialog's end may arrive in one
    // batch of events, and a label left to a later paint would end the run at "99%".
    if (m_pPercent->text() != strText) {
        m_pPercent->setText(strText);
        m_pPercent->repaint();
    }
    return nPrevious;
}

int CProgressDlg::CheckCancel() {
    return m_bCancel.exchange(0);
}

QString CProgressDlg::GetPercentText() const {
    return m_pPercent->text();
}

void CProgressDlg::accept() {}

void CProgressDlg::reject() {
    m_bCancel = 1;
}

void CProgressDlg::closeEvent(QCloseEvent* pEvent) {
    m_bCancel = 1;
    pEvent->ignore();
}

void AbandonProgressDlg(std::unique_ptr<IProgressSink> pDlg) {
    if (auto* pProgress = dynamic_cast<CProgressDlg*>(pDlg.get())) {
        static_cast<void>(pDlg.release());
        pProgress->deleteLater();
    }
}
