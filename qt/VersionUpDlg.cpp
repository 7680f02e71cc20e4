#include "qt/VersionUpDlg.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <cstdio>

#include "frontend/AppTitle.h"
#include "frontend/PictureLayout.h"
#include "qt/AppIcon.h"
#include "qt/DialogUnits.h"
#include "qt/Dib.h"
#include "qt/PortDlg.h"
#include "qt/ProgressDlg.h"
#include "resources/StringIds.h"
#include "resources/Strings.h"

static_assert(kIdSendFirmware == kIdCommandSendFirmware,
              "the controller tells Send Firmware apart");

namespace {

QString ToQt(const std::string& str) {
    return QString::fromStdString(str);
}

// The string tables keep the platform's "\r\n" line ends; Qt's text box wants "\n".
QString ToDisplayText(const std::string& str) {
    QString strText = ToQt(str);
    strText.replace("\r\n", "\n");
    return strText;
}

// Return and Enter belong to the step text while it has the focus, as they do to any box that
// takes line breaks. Read-only, the box would pass them on, and the dialog would press its
// default button: "Next >>", which on the Connect step starts the check and on Plug-adapter the
// transfer.
class CKeepEnter : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override {
        if (pEvent->type() == QEvent::KeyPress) {
            const int nKey = static_cast<QKeyEvent*>(pEvent)->key();
            if (nKey == Qt::Key_Return || nKey == Qt::Key_Enter)
                return true;
        }
        return QObject::eventFilter(pWatched, pEvent);
    }
};

unsigned GetKeyState(const QMouseEvent& event) {
    unsigned nKeys = 0;
    const Qt::MouseButtons buttons = event.buttons() | event.button();
    if (buttons & Qt::LeftButton)
        nKeys |= kKeyLButton;
    if (buttons & Qt::RightButton)
        nKeys |= kKeyRButton;
    if (buttons & Qt::MiddleButton)
        nKeys |= kKeyMButton;
    if (buttons & Qt::XButton1)
        nKeys |= kKeyXButton1;
    if (buttons & Qt::XButton2)
        nKeys |= kKeyXButton2;
    if (event.modifiers() & Qt::ShiftModifier)
        nKeys |= kKeyShift;
    if (event.modifiers() & Qt::ControlModifier)
        nKeys |= kKeyControl;
    return nKeys;
}

} // namespace

CVersionUpDlg::CVersionUpDlg(QWidget* pParent, CMachineLink link)
    : QDialog(pParent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                           Qt::MSWindowsFixedSizeDialogHint),
      m_operator(*this, m_calls, AbandonProgressDlg),
      m_steps(m_state, m_operator, this, std::move(link)), m_commands(m_state, m_operator, m_steps),
      m_icon(LoadAppIcon()) {
    m_state.m_pWindow = &m_window;
    setWindowTitle("Version up tool for NRP-7/70 TVK-35/50");
    // The right press would otherwise open a context menu at once, and the double-click that
    // opens the service popup would never arrive.
    setContextMenuPolicy(Qt::PreventContextMenu);

    const CDialogUnits units(font());
    setFixedSize(units.Size(208, 122));

    // Creation order is the template's, which is also the tab order.
    m_pNext = new QPushButton("Next >>", this);
    m_pNext->setGeometry(units.Rect(152, 100, 50, 14));
    m_pNext->setDefault(true);
    connect(m_pNext, &QPushButton::clicked, this, &CVersionUpDlg::OnNext);

    m_pBack = new QPushButton("<< Back", this);
    m_pBack->setGeometry(units.Rect(96, 100, 50, 14));
    connect(m_pBack, &QPushButton::clicked, this, &CVersionUpDlg::OnBack);

    // Only the frame's rectangle is used: it tells where the picture goes.
    m_pFrame = new QFrame(this);
    m_pFrame->setGeometry(units.Rect(4, 22, 200, 36));
    m_pFrame->hide();

    m_pText = new QPlainTextEdit(this);
    m_pText->setGeometry(units.Rect(4, 64, 200, 28));
    m_pText->setReadOnly(true);
    m_pText->setFocusPolicy(Qt::ClickFocus);
    // Wrapped rather than scrolled sideways: an instruction must be read whole.
    m_pText->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_pText->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_pText->installEventFilter(new CKeepEnter(m_pText));

    m_pStatus = new QLabel(this);
    m_pStatus->setGeometry(units.Rect(6, 100, 80, 14));
    m_pStatus->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_pStatus->setAlignment(Qt::AlignCenter);
    m_pStatus->setTextFormat(Qt::PlainText);

    m_pPort = new QLabel("COM1:", this);
    m_pPort->setGeometry(units.Rect(4, 4, 24, 8));
    m_pPort->setAlignment(Qt::AlignCenter);
    m_pPort->setTextFormat(Qt::PlainText);

    m_pPackage = new QLabel(this);
    m_pPackage->setGeometry(units.Rect(34, 4, 170, 8));
    m_pPackage->setAlignment(Qt::AlignCenter);
    m_pPackage->setTextFormat(Qt::PlainText);

    m_pLine = new QFrame(this);
    m_pLine->setGeometry(units.Rect(4, 15, 200, 2));
    m_pLine->setFrameStyle(QFrame::HLine | QFrame::Sunken);

    setTabOrder(m_pNext, m_pBack);
}

CVersionUpDlg::~CVersionUpDlg() {
    // Only a window destroyed under a run (a failed test) gets here with the worker going: it
    // gets no more answers, so that it ends at its next question or cancel point.
    m_controller.End();
    m_state.m_pWindow = nullptr;
    if (const std::string strFailed = m_trace.Save(m_state.m_strPort); !strFailed.empty())
        std::fprintf(stderr, "versionup: %s\n", strFailed.c_str());
    if (m_nWaitCursor > 0)
        QApplication::restoreOverrideCursor();
}

QWidget* CVersionUpDlg::GetControl(int nId) const {
    switch (nId) {
    case kIdStepText:
        return m_pText;
    case kIdPictureFrame:
        return m_pFrame;
    case kIdBack:
        return m_pBack;
    case kIdNext:
        return m_pNext;
    case kIdStatus:
        return m_pStatus;
    case kIdPortText:
        return m_pPort;
    case kIdPackageText:
        return m_pPackage;
    default:
        return nullptr;
    }
}

void CVersionUpDlg::setVisible(bool bVisible) {
    // Window start runs once, before the window is first on screen.
    if (bVisible && !m_bStarted) {
        m_bStarted = true;
        OnInitDialog();
    }
    QDialog::setVisible(bVisible);
}

bool CVersionUpDlg::OnInitDialog() {
    if (!m_pDib)
        m_pDib = std::make_unique<CDib>();
    RefreshControls();
    setWindowIcon(m_icon);
    Layout(256, 192);
    m_steps.Begin();
    RefreshControls();
    m_pNext->setFocus();
    return true;
}

void CVersionUpDlg::Layout(int nPictureWidth, int nPictureHeight) {
    const QRect rcFrame = m_pFrame->geometry();
    const CPictureLayout layout =
        LayOutPicture({rcFrame.left(), rcFrame.top(), rcFrame.left() + rcFrame.width(),
                       rcFrame.top() + rcFrame.height()},
                      nPictureWidth, nPictureHeight);
    if (layout.m_nGrowX > 0 || layout.m_nGrowY > 0) {
        setFixedSize(width() + layout.m_nGrowX, height() + layout.m_nGrowY);
        m_pFrame->setGeometry(rcFrame.adjusted(0, 0, layout.m_nGrowX, layout.m_nGrowY));
        for (QWidget* pControl : {static_cast<QWidget*>(m_pText), static_cast<QWidget*>(m_pBack),
                                  static_cast<QWidget*>(m_pNext), static_cast<QWidget*>(m_pStatus)})
            pControl->move(pControl->x(), pControl->y() + layout.m_nGrowY);
    }
    m_ptPictureCentre = QPoint(layout.m_nCentreX, layout.m_nCentreY);
}

// The logic reaches the window below through the forwarding window and operator: each call runs
// here while the worker waits, so the state it reads holds still.

void CVersionUpDlg::RefreshControls() {
    m_pText->setPlainText(ToDisplayText(m_state.m_strStep));
    // The machine's reply as it came, one character per byte: it is not UTF-8, and a byte from
    // 0x80 on must not turn into a replacement mark.
    m_pStatus->setText(QString::fromLatin1(m_state.m_strStatus));
    m_pPort->setText(ToQt(m_state.m_strPort));
    m_pPackage->setText(ToQt(m_state.m_strPackage));
}

void CVersionUpDlg::Repaint() {
    update();
}

void CVersionUpDlg::EnableButton(int nControlId, bool bEnable) {
    if (QWidget* pButton = GetControl(nControlId))
        pButton->setEnabled(bEnable);
}

void CVersionUpDlg::Free() {
    m_calls.Call([this] {
        if (m_pDib)
            m_pDib->Free();
    });
}

int CVersionUpDlg::Load(int nId) {
    int nResult = 0;
    m_calls.Call([&] { nResult = m_pDib ? m_pDib->Load(nId) : 0; });
    return nResult;
}

void CVersionUpDlg::paintEvent(QPaintEvent*) {
    if (!m_pDib)
        return;
    const int nWidth = m_pDib->GetBitmapInfo().bmWidth;
    const int nHeight = m_pDib->GetBitmapInfo().bmHeight;
    if (nWidth <= 0 || nHeight <= 0)
        return;
    QRect rc(0, 0, nWidth, nHeight);
    rc.translate(m_ptPictureCentre.x() - nWidth / 2, m_ptPictureCentre.y() - nHeight / 2);
    QPainter painter(this);
    m_pDib->Draw(painter, &rc, nullptr, true, nullptr, false);
}

void CVersionUpDlg::OnBack() {
    m_controller.Press(m_state.m_eBack, [this] { m_steps.BackPressed(); });
}

void CVersionUpDlg::OnNext() {
    m_controller.Press(m_state.m_eNext, [this] { m_steps.NextPressed(); });
}

void CVersionUpDlg::mouseDoubleClickEvent(QMouseEvent* pEvent) {
    if (pEvent->button() != Qt::RightButton || IsBusy()) {
        QDialog::mouseDoubleClickEvent(pEvent);
        return;
    }
    // The window itself: picture area, status line, free space. The text box, the buttons and
    // the top line's two texts keep their clicks.
    QWidget* pChild = childAt(pEvent->position().toPoint());
    if (pChild && pChild != m_pStatus && pChild != m_pLine)
        return;
    pEvent->accept();
    // The popup runs its own loop; it opens once this event has been handled, so that the
    // mouse event is not still being delivered when the popup's command opens a dialog.
    const EPopup ePopup = ChoosePopup(m_state, GetKeyState(*pEvent));
    const QPoint ptGlobal = pEvent->globalPosition().toPoint();
    QTimer::singleShot(0, this, [this, ePopup, ptGlobal] { ShowPopup(ePopup, ptGlobal); });
}

void CVersionUpDlg::ShowPopup(EPopup ePopup, const QPoint& ptGlobal) {
    // Queued behind the double-click: a Next in the same batch may have started a run since.
    if (IsBusy())
        return;
    QMenu menu(this);
    menu.setObjectName(ePopup == EPopup::Service ? "servicePopup" : "plainPopup");
    for (const CMenuItem& item : GetPopupItems(ePopup)) {
        if (item.m_nId == 0)
            menu.addSeparator();
        else
            menu.addAction(ToQt(item.m_strText))->setData(item.m_nId);
    }
    QAction* pChosen = menu.exec(ptGlobal);
    if (pChosen)
        RunCommand(pChosen->data().toUInt());
}

void CVersionUpDlg::RunCommand(unsigned nId) {
    m_controller.Command(nId, [this, nId] {
        if (nId == kIdAbout)
            ShowAbout();
        else
            m_commands.Run(nId);
    });
}

void CVersionUpDlg::ShowAbout() {
    if (m_fnShowAbout)
        m_fnShowAbout(this, FormatUpgradeFor(m_state.m_strPackage));
}

void CVersionUpDlg::reject() {
    // Esc while the machine is asked ends the check; the window stays.
    if (IsBusy()) {
        m_controller.Cancel();
        return;
    }
    done(kIdCancel);
}

void CVersionUpDlg::closeEvent(QCloseEvent* pEvent) {
    if (IsBusy()) {
        m_controller.Cancel();
        pEvent->ignore();
        return;
    }
    QDialog::closeEvent(pEvent);
}

int CVersionUpDlg::ShowMessage(const CMessage& message) {
    QMessageBox box(this);
    box.setWindowTitle(ToQt(GetApplicationTitle()));
    box.setIcon(QMessageBox::NoIcon);
    box.setTextFormat(Qt::PlainText);
    box.setText(ToDisplayText(message.m_strText));
    if (!message.m_strDetail.empty())
        box.setInformativeText(ToDisplayText(message.m_strDetail));
    if (message.m_eButtons == EButtons::RetryCancel) {
        box.setStandardButtons(QMessageBox::Retry | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Retry);
        box.setEscapeButton(QMessageBox::Cancel);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Ok);
    }
    // A wait cursor must not hide that the program now waits for the operator.
    if (m_nWaitCursor > 0)
        QApplication::setOverrideCursor(Qt::ArrowCursor);
    box.exec();
    if (m_nWaitCursor > 0)
        QApplication::restoreOverrideCursor();
    switch (box.standardButton(box.clickedButton())) {
    case QMessageBox::Retry:
        return kIdRetry;
    case QMessageBox::Cancel:
        return kIdCancel;
    default:
        return kIdOk;
    }
}

void CVersionUpDlg::BeginWaitCursor() {
    if (m_nWaitCursor++ == 0)
        QApplication::setOverrideCursor(Qt::WaitCursor);
}

void CVersionUpDlg::EndWaitCursor() {
    if (m_nWaitCursor > 0 && --m_nWaitCursor == 0)
        QApplication::restoreOverrideCursor();
}

bool CVersionUpDlg::RunPortDialog(std::string& strPort) {
    return CPortDlg::Run(this, strPort);
}

bool CVersionUpDlg::RunFileOpenDialog(const std::string& strFolder, const std::string& strFile,
                                      std::string& strChosen) {
    QFileDialog dlg(this);
    dlg.setAcceptMode(QFileDialog::AcceptOpen);
    dlg.setFileMode(QFileDialog::AnyFile);
    // The desktop's own dialog would record the file in its recently-used list; this program
    // leaves nothing behind.
    dlg.setOption(QFileDialog::DontUseNativeDialog);
    // "*" and not "*.*": on Linux many files have no dot in their name.
    dlg.setNameFilters({"ufw (*.ufw)", "All files (*)"});
    dlg.selectNameFilter("ufw (*.ufw)");
    if (!strFolder.empty())
        dlg.setDirectory(QFile::decodeName(strFolder.c_str()));
    if (!strFile.empty())
        dlg.selectFile(QFile::decodeName(strFile.c_str()));
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return false;
    strChosen = QFile::encodeName(dlg.selectedFiles().first()).toStdString();
    return true;
}

std::unique_ptr<IProgressSink> CVersionUpDlg::CreateProgress() {
    return std::make_unique<CProgressDlg>(0, this);
}
