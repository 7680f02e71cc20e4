#include "win32/MainDlg.h"

#include <commdlg.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "frontend/AppTitle.h"
#include "frontend/PictureLayout.h"
#include "platform/WinText.h"
#include "resources/StringIds.h"
#include "resources/Strings.h"
#include "win32/AboutDlg.h"
#include "win32/ResourceIds.h"
#include "win32/WinPortDlg.h"
#include "win32/WinProgressDlg.h"

namespace {

constexpr UINT kPopupMessage = WM_APP + 3; // wParam the key state, lParam the point on screen

// The machine's reply as it came, one character per byte: it is not UTF-8, and a byte from 0x80
// on must not turn into a replacement mark.
std::wstring WideOfLatin1(const std::string& str) {
    std::wstring strWide;
    for (const char ch : str)
        strWide += static_cast<wchar_t>(static_cast<unsigned char>(ch));
    return strWide;
}

// The header and the pixels of a built-in .bmp file, or nothing when it is no bitmap file.
const BITMAPINFO* GetBitmapInfo(const CResource& bmp, const void** ppBits) {
    if (bmp.m_nSize < sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER))
        return nullptr;
    BITMAPFILEHEADER file;
    memcpy(&file, bmp.m_pData, sizeof file);
    const auto* pInfo = reinterpret_cast<const BITMAPINFO*>(bmp.m_pData + sizeof file);
    if (file.bfType != 0x4D42 || file.bfOffBits >= bmp.m_nSize ||
        pInfo->bmiHeader.biSize < sizeof(BITMAPINFOHEADER))
        return nullptr;
    *ppBits = bmp.m_pData + file.bfOffBits;
    return pInfo;
}

// Return and Enter belong to the step text while it has the focus, as to any box that takes line
// breaks; read-only, the box would leave them to the dialog (wine does), which would press
// "Next >>": on the Connect step the check, on Plug-adapter the transfer.
LRESULT CALLBACK KeepEnter(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam, UINT_PTR,
                           DWORD_PTR) {
    if (nMsg == WM_GETDLGCODE && lParam &&
        reinterpret_cast<const MSG*>(lParam)->message == WM_KEYDOWN &&
        reinterpret_cast<const MSG*>(lParam)->wParam == VK_RETURN)
        return DefSubclassProc(hWnd, nMsg, wParam, lParam) | DLGC_WANTMESSAGE;
    if ((nMsg == WM_KEYDOWN || nMsg == WM_CHAR) && wParam == VK_RETURN) // VK_RETURN is '\r' too
        return 0;
    return DefSubclassProc(hWnd, nMsg, wParam, lParam);
}

// Keys and clicks still queued for this thread: given while the machine was asked, they must not
// start a step once the window takes input again.
void DiscardQueuedInput() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE)) {
    }
    while (PeekMessageW(&msg, nullptr, WM_MOUSEFIRST, WM_MOUSELAST, PM_REMOVE)) {
    }
}

} // namespace

static_assert(kIdSendFirmware == kIdCommandSendFirmware,
              "the controller tells Send Firmware apart");

CMainDlg::CMainDlg(CMachineLink link)
    : m_steps(m_state, m_operator, this, std::move(link)), m_commands(m_state, m_operator, m_steps),
      m_controller(m_calls, DiscardQueuedInput) {
    m_state.m_pWindow = &m_window;
    HINSTANCE hInstance = GetModuleHandleW(nullptr);
    m_hIcon =
        static_cast<HICON>(LoadImageW(hInstance, MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON,
                                      GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
    m_hSmallIcon = static_cast<HICON>(LoadImageW(hInstance, MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON,
                                                 GetSystemMetrics(SM_CXSMICON),
                                                 GetSystemMetrics(SM_CYSMICON), 0));
}

CMainDlg::~CMainDlg() {
    m_controller.End();
    m_state.m_pWindow = nullptr;
    // The operator asked for the trace to send it on: a file that could not be written is said.
    if (const std::string strFailed = m_trace.Save(m_state.m_strPort); !strFailed.empty())
        MessageBoxW(nullptr, WideOf(strFailed).c_str(), WideOf(GetApplicationTitle()).c_str(),
                    MB_OK | MB_ICONWARNING);
    if (m_hIcon)
        DestroyIcon(m_hIcon);
    if (m_hSmallIcon)
        DestroyIcon(m_hSmallIcon);
}

INT_PTR CMainDlg::Run() {
    // Modeless with a loop of its own rather than DialogBox, whose loop would hand keys to this
    // window alone: Esc and Enter in the progress dialog would then come to nothing.
    if (!CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_VERSIONUP), nullptr,
                            DialogProc, reinterpret_cast<LPARAM>(this)))
        return -1;
    if (!m_bEnded)
        ShowWindow(m_hWnd, SW_SHOW);
    MSG msg;
    while (!m_bEnded && GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (m_hKeys && IsDialogMessageW(m_hKeys, &msg))
            continue;
        if (IsDialogMessageW(m_hWnd, &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    // The controller's end waits for a run still going; the window goes after it.
    m_controller.End();
    DestroyWindow(m_hWnd);
    return m_nResult;
}

INT_PTR CALLBACK CMainDlg::DialogProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam) {
    if (nMsg == WM_INITDIALOG) {
        auto* pDlg = reinterpret_cast<CMainDlg*>(lParam);
        SetWindowLongPtrW(hWnd, GWLP_USERDATA, lParam);
        pDlg->m_hWnd = hWnd;
        pDlg->m_pThread->Attach(hWnd);
        pDlg->OnInitDialog();
        return TRUE; // the focus goes to the first control, "Next >>"
    }
    auto* pDlg = reinterpret_cast<CMainDlg*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
    return pDlg ? pDlg->HandleMessage(nMsg, wParam, lParam) : FALSE;
}

INT_PTR CMainDlg::HandleMessage(UINT nMsg, WPARAM wParam, LPARAM lParam) {
    switch (nMsg) {
    case CWin32WindowThread::kCallMessage:
        CWin32WindowThread::Dispatch(lParam);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case kIdNext:
            m_controller.Press(m_state.m_eNext, [this] { m_steps.NextPressed(); });
            return TRUE;
        case kIdBack:
            m_controller.Press(m_state.m_eBack, [this] { m_steps.BackPressed(); });
            return TRUE;
        case IDCANCEL: // Esc, the close box, Alt+F4, Close in the system menu
            // While the machine is asked they end the check, and the window stays.
            if (m_controller.IsBusy()) {
                m_controller.Cancel();
            } else {
                m_nResult = IDCANCEL;
                m_bEnded = true;
            }
            return TRUE;
        }
        return FALSE;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == kIdAbout) {
            m_controller.RunHere([this] { ShowAbout(); });
            return TRUE;
        }
        return FALSE;
    case WM_PAINT:
        Paint();
        return TRUE;
    case WM_QUERYDRAGICON:
        SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, reinterpret_cast<LONG_PTR>(m_hIcon));
        return TRUE;
    case WM_SETCURSOR:
        if (m_nWaitCursor > 0) {
            SetCursor(LoadCursor(nullptr, IDC_WAIT));
            SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, TRUE);
            return TRUE;
        }
        return FALSE;
    case WM_RBUTTONDBLCLK:
        OnDoubleClickRight(wParam, lParam);
        return TRUE;
    case kPopupMessage:
        if (!m_controller.IsBusy())
            ShowPopup(static_cast<unsigned>(wParam),
                      {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))});
        return TRUE;
    default:
        return FALSE;
    }
}

void CMainDlg::OnDoubleClickRight(WPARAM wParam, LPARAM lParam) {
    if (m_controller.IsBusy())
        return;
    POINT pt{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    // Clicks on the static texts reach the window, which has to tell them apart: the status line
    // opens the popup, the top line's port and package texts do not (as the text box and the
    // buttons, which keep their clicks).
    HWND hChild = ChildWindowFromPointEx(m_hWnd, pt, CWP_SKIPINVISIBLE);
    if (hChild == GetDlgItem(m_hWnd, kIdPortText) || hChild == GetDlgItem(m_hWnd, kIdPackageText))
        return;
    ClientToScreen(m_hWnd, &pt);
    // The popup runs its own loop; it opens once the click has been handled, so that it does
    // not start inside the mouse message (under wine it then stays unpainted). MK_* are the
    // popup's key bits.
    PostMessageW(m_hWnd, kPopupMessage, wParam & 0x7F, MAKELPARAM(pt.x, pt.y));
}

void CMainDlg::OnInitDialog() {
    SetWindowSubclass(GetDlgItem(m_hWnd, kIdStepText), KeepEnter, 0, 0);
    RefreshControls();
    if (HMENU hSystemMenu = GetSystemMenu(m_hWnd, FALSE)) {
        const std::string strAbout = LoadString(kIdsAbout);
        if (!strAbout.empty()) {
            AppendMenuW(hSystemMenu, MF_SEPARATOR, 0, nullptr);
            AppendMenuW(hSystemMenu, MF_STRING, kIdAbout, WideOf(strAbout).c_str());
        }
    }
    SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hSmallIcon));
    Layout(256, 192);
    m_steps.Begin();
    RefreshControls();
}

void CMainDlg::Layout(int nPictureWidth, int nPictureHeight) {
    HWND hFrame = GetDlgItem(m_hWnd, IDC_PICTURE_FRAME);
    RECT rcFrame{};
    GetWindowRect(hFrame, &rcFrame);
    MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&rcFrame), 2);
    const CPictureLayout layout = LayOutPicture(
        {rcFrame.left, rcFrame.top, rcFrame.right, rcFrame.bottom}, nPictureWidth, nPictureHeight);
    if (layout.m_nGrowX > 0 || layout.m_nGrowY > 0) {
        RECT rcWindow{};
        GetWindowRect(m_hWnd, &rcWindow);
        SetWindowPos(m_hWnd, nullptr, 0, 0, rcWindow.right - rcWindow.left + layout.m_nGrowX,
                     rcWindow.bottom - rcWindow.top + layout.m_nGrowY, SWP_NOMOVE | SWP_NOZORDER);
        const CRectangle& rc = layout.m_rcFrame;
        MoveWindow(hFrame, rc.m_nLeft, rc.m_nTop, rc.m_nRight - rc.m_nLeft,
                   rc.m_nBottom - rc.m_nTop, FALSE);
        for (int nId : {kIdStepText, kIdBack, kIdNext, kIdStatus}) {
            HWND hControl = GetDlgItem(m_hWnd, nId);
            RECT rcControl{};
            GetWindowRect(hControl, &rcControl);
            MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&rcControl), 2);
            MoveWindow(hControl, rcControl.left, rcControl.top + layout.m_nGrowY,
                       rcControl.right - rcControl.left, rcControl.bottom - rcControl.top, FALSE);
        }
    }
    m_ptPictureCentre = {layout.m_nCentreX, layout.m_nCentreY};
}

void CMainDlg::Paint() {
    PAINTSTRUCT ps;
    HDC hDC = BeginPaint(m_hWnd, &ps);
    if (IsIconic(m_hWnd)) {
        RECT rc{};
        GetClientRect(m_hWnd, &rc);
        SendMessageW(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(hDC), 0);
        DrawIcon(hDC, (rc.right - GetSystemMetrics(SM_CXICON) + 1) / 2,
                 (rc.bottom - GetSystemMetrics(SM_CYICON) + 1) / 2, m_hIcon);
    } else if (const void* pBits = nullptr;
               const BITMAPINFO* pInfo = GetBitmapInfo(m_picture, &pBits)) {
        // RLE8 pictures go to the device as they are stored: GDI unpacks them.
        const int nWidth = pInfo->bmiHeader.biWidth;
        const int nHeight = std::abs(pInfo->bmiHeader.biHeight);
        StretchDIBits(hDC, m_ptPictureCentre.x - nWidth / 2, m_ptPictureCentre.y - nHeight / 2,
                      nWidth, nHeight, 0, 0, nWidth, nHeight, pBits, pInfo, DIB_RGB_COLORS,
                      SRCCOPY);
    }
    EndPaint(m_hWnd, &ps);
}

void CMainDlg::ShowPopup(unsigned nKeyState, POINT ptScreen) {
    std::vector<CMenuItem> items = GetPopupItems(ChoosePopup(m_state, nKeyState));
    // About has its place in the system menu here, which a window elsewhere may not have: the
    // popups end with the port.
    while (!items.empty() && (items.back().m_nId == kIdAbout || items.back().m_nId == 0))
        items.pop_back();
    HMENU hMenu = CreatePopupMenu();
    for (const CMenuItem& item : items) {
        if (item.m_nId == 0)
            AppendMenuW(hMenu, MF_SEPARATOR, 0, nullptr);
        else
            AppendMenuW(hMenu, MF_STRING, item.m_nId, WideOf(item.m_strText).c_str());
    }
    const unsigned nId = static_cast<unsigned>(
        TrackPopupMenu(hMenu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_LEFTALIGN | TPM_TOPALIGN,
                       ptScreen.x, ptScreen.y, 0, m_hWnd, nullptr));
    DestroyMenu(hMenu);
    if (nId == kIdAbout)
        m_controller.RunHere([this] { ShowAbout(); });
    else if (nId != 0)
        m_controller.Command(nId, [this, nId] { m_commands.Run(nId); });
}

void CMainDlg::ShowAbout() {
    RunAboutDlg(m_hWnd, FormatUpgradeFor(m_state.m_strPackage));
}

void CMainDlg::RefreshControls() {
    SetDlgItemTextW(m_hWnd, kIdStepText, WideOf(m_state.m_strStep).c_str());
    SetDlgItemTextW(m_hWnd, kIdStatus, WideOfLatin1(m_state.m_strStatus).c_str());
    SetDlgItemTextW(m_hWnd, kIdPortText, WideOf(m_state.m_strPort).c_str());
    SetDlgItemTextW(m_hWnd, kIdPackageText, WideOf(m_state.m_strPackage).c_str());
}

void CMainDlg::Repaint() {
    InvalidateRect(m_hWnd, nullptr, TRUE);
}

void CMainDlg::EnableButton(int nControlId, bool bEnable) {
    HWND hButton = GetDlgItem(m_hWnd, nControlId);
    // A disabled control keeps no focus, and a window without a focus gets no Enter.
    if (!bEnable && GetFocus() == hButton)
        SendMessageW(m_hWnd, WM_NEXTDLGCTL, 0, FALSE);
    EnableWindow(hButton, bEnable);
}

// The picture is the step machine's, which may call from the worker.
void CMainDlg::Free() {
    m_calls.Call([this] { m_picture = {}; });
}

int CMainDlg::Load(int nId) {
    const CResource picture = FindResource("BITMAP", nId);
    const void* pBits = nullptr;
    if (!GetBitmapInfo(picture, &pBits))
        return 0;
    m_calls.Call([&] { m_picture = picture; });
    return 1;
}

int CMainDlg::ShowMessage(const CMessage& message) {
    std::string strText = message.m_strText;
    if (!message.m_strDetail.empty())
        strText += "\r\n\r\n" + message.m_strDetail;
    const UINT nType = message.m_eButtons == EButtons::RetryCancel ? MB_RETRYCANCEL : MB_OK;
    const int nResult =
        MessageBoxW(m_hWnd, WideOf(strText).c_str(), WideOf(GetApplicationTitle()).c_str(), nType);
    // MessageBox answers with the same numbers as the operator interface.
    return nResult == IDRETRY ? kIdRetry : nResult == IDCANCEL ? kIdCancel : kIdOk;
}

void CMainDlg::BeginWaitCursor() {
    ++m_nWaitCursor;
    SetCursor(LoadCursor(nullptr, IDC_WAIT));
    // Opening a port may take a while; the operator reads the step meanwhile.
    UpdateWindow(m_hWnd);
}

void CMainDlg::EndWaitCursor() {
    if (m_nWaitCursor > 0 && --m_nWaitCursor == 0)
        SetCursor(LoadCursor(nullptr, IDC_ARROW));
}

bool CMainDlg::RunPortDialog(std::string& strPort) {
    return RunPortDlg(m_hWnd, strPort);
}

bool CMainDlg::RunFileOpenDialog(const std::string& strFolder, const std::string& strFile,
                                 std::string& strChosen) {
    bool bOk = false;
    {
        std::wstring strFolderWide = WideOf(strFolder);
        for (wchar_t& ch : strFolderWide)
            if (ch == L'/')
                ch = L'\\';
        std::vector<wchar_t> path(32768, L'\0');
        const std::wstring strFileWide = WideOf(strFile).substr(0, path.size() - 1);
        std::copy(strFileWide.begin(), strFileWide.end(), path.begin());
        OPENFILENAMEW ofn{};
        ofn.lStructSize = sizeof ofn;
        ofn.hwndOwner = m_hWnd;
        ofn.lpstrFilter = L"ufw (*.ufw)\0*.ufw\0All files (*.*)\0*.*\0";
        ofn.nFilterIndex = 1;
        ofn.lpstrFile = path.data();
        ofn.nMaxFile = static_cast<DWORD>(path.size());
        ofn.lpstrInitialDir = strFolderWide.empty() ? nullptr : strFolderWide.c_str();
        ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT | OFN_NOCHANGEDIR;
        if (GetOpenFileNameW(&ofn)) {
            strChosen = Utf8Of(path.data());
            bOk = true;
        }
    }
    return bOk;
}

std::unique_ptr<IProgressSink> CMainDlg::CreateProgress() {
    return std::make_unique<CWinProgressDlg>(m_hWnd, &m_hKeys);
}
