#include "win32/MainDlg.h"

#include <commdlg.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "frontend/AppTitle.h"
#include "platform/WinText.h"
#include "resources/StringIds.h"
#include "resources/Strings.h"
#include "win32/AboutDlg.h"
#include "win32/ResourceIds.h"
#include "win32/WinPortDlg.h"
#include "win32/WinProgressDlg.h"

namespace {

constexpr UINT kWorkDoneMessage = WM_APP + 2;
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

} // namespace

CMainDlg::CMainDlg(CMachineLink link)
    : m_steps(m_state, *this, this, std::move(link)), m_commands(m_state, *this, m_steps) {
    m_state.m_pWindow = this;
    HINSTANCE hInstance = GetModuleHandleW(nullptr);
    m_hIcon =
        static_cast<HICON>(LoadImageW(hInstance, MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON,
                                      GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
    m_hSmallIcon = static_cast<HICON>(LoadImageW(hInstance, MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON,
                                                 GetSystemMetrics(SM_CXSMICON),
                                                 GetSystemMetrics(SM_CYSMICON), 0));
}

CMainDlg::~CMainDlg() {
    if (m_worker.joinable())
        m_worker.join();
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
    return DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_VERSIONUP), nullptr,
                           DialogProc, reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CMainDlg::DialogProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam) {
    if (nMsg == WM_INITDIALOG) {
        auto* pDlg = reinterpret_cast<CMainDlg*>(lParam);
        SetWindowLongPtrW(hWnd, GWLP_USERDATA, lParam);
        pDlg->m_hWnd = hWnd;
        pDlg->m_thread.Attach(hWnd);
        pDlg->OnInitDialog();
        return TRUE; // the focus goes to the first control, "Next >>"
    }
    auto* pDlg = reinterpret_cast<CMainDlg*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
    return pDlg ? pDlg->HandleMessage(nMsg, wParam, lParam) : FALSE;
}

INT_PTR CMainDlg::HandleMessage(UINT nMsg, WPARAM wParam, LPARAM lParam) {
    switch (nMsg) {
    case CWindowThread::kCallMessage:
        CWindowThread::Dispatch(lParam);
        return TRUE;
    case kWorkDoneMessage:
        m_worker.join();
        m_bBusy = false;
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case kIdNext:
            StartWork([this] { m_steps.NextPressed(); });
            return TRUE;
        case kIdBack:
            StartWork([this] { m_steps.BackPressed(); });
            return TRUE;
        case IDCANCEL: // Esc, the close box, Close in the system menu
            if (!m_bBusy)
                EndDialog(m_hWnd, IDCANCEL);
            return TRUE;
        }
        return FALSE;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == kIdAbout) {
            if (!m_bBusy)
                ShowAbout();
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
    case WM_RBUTTONDBLCLK: {
        // Clicks on the static texts reach the window too; the text box and the buttons keep
        // theirs. MK_* are the popup's key bits.
        if (m_bBusy)
            return TRUE;
        POINT pt{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        ClientToScreen(m_hWnd, &pt);
        // The popup runs its own loop; it opens once the click has been handled, so that it
        // does not start inside the mouse message (under wine it then stays unpainted).
        PostMessageW(m_hWnd, kPopupMessage, wParam & 0x7F, MAKELPARAM(pt.x, pt.y));
        return TRUE;
    }
    case kPopupMessage:
        if (!m_bBusy)
            ShowPopup(static_cast<unsigned>(wParam),
                      {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))});
        return TRUE;
    default:
        return FALSE;
    }
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
    const int dx = std::max(0L, nPictureWidth - (rcFrame.right - rcFrame.left));
    const int dy = std::max(0L, nPictureHeight - (rcFrame.bottom - rcFrame.top));
    MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&rcFrame), 2);
    if (dx > 0 || dy > 0) {
        RECT rcWindow{};
        GetWindowRect(m_hWnd, &rcWindow);
        SetWindowPos(m_hWnd, nullptr, 0, 0, rcWindow.right - rcWindow.left + dx,
                     rcWindow.bottom - rcWindow.top + dy, SWP_NOMOVE | SWP_NOZORDER);
        rcFrame.right += dx;
        rcFrame.bottom += dy;
        MoveWindow(hFrame, rcFrame.left, rcFrame.top, rcFrame.right - rcFrame.left,
                   rcFrame.bottom - rcFrame.top, FALSE);
        for (int nId : {kIdStepText, kIdBack, kIdNext, kIdStatus}) {
            HWND hControl = GetDlgItem(m_hWnd, nId);
            RECT rc{};
            GetWindowRect(hControl, &rc);
            MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&rc), 2);
            MoveWindow(hControl, rc.left, rc.top + dy, rc.right - rc.left, rc.bottom - rc.top,
                       FALSE);
        }
    }
    m_ptPictureCentre = {(rcFrame.left + rcFrame.right) / 2, (rcFrame.top + rcFrame.bottom) / 2};
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

void CMainDlg::StartWork(std::function<void()> fn) {
    if (m_bBusy)
        return;
    m_bBusy = true;
    m_worker = std::thread([this, fn = std::move(fn)] {
        fn();
        PostMessageW(m_hWnd, kWorkDoneMessage, 0, 0);
    });
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
        ShowAbout();
    else if (nId != 0)
        StartWork([this, nId] { m_commands.Run(nId); });
}

void CMainDlg::ShowAbout() {
    RunAboutDlg(m_hWnd, FormatUpgradeFor(m_state.m_strPackage));
}

void CMainDlg::RefreshControls() {
    m_thread.Run([this] {
        SetDlgItemTextW(m_hWnd, kIdStepText, WideOf(m_state.m_strStep).c_str());
        SetDlgItemTextW(m_hWnd, kIdStatus, WideOfLatin1(m_state.m_strStatus).c_str());
        SetDlgItemTextW(m_hWnd, kIdPortText, WideOf(m_state.m_strPort).c_str());
        SetDlgItemTextW(m_hWnd, kIdPackageText, WideOf(m_state.m_strPackage).c_str());
    });
}

void CMainDlg::Repaint() {
    m_thread.Run([this] { InvalidateRect(m_hWnd, nullptr, TRUE); });
}

void CMainDlg::EnableButton(int nControlId, bool bEnable) {
    m_thread.Run([&] {
        HWND hButton = GetDlgItem(m_hWnd, nControlId);
        // A disabled control keeps no focus, and a window without a focus gets no Enter.
        if (!bEnable && GetFocus() == hButton)
            SendMessageW(m_hWnd, WM_NEXTDLGCTL, 0, FALSE);
        EnableWindow(hButton, bEnable);
    });
}

void CMainDlg::Free() {
    m_thread.Run([this] { m_picture = {}; });
}

int CMainDlg::Load(int nId) {
    const CResource picture = FindResource("BITMAP", nId);
    const void* pBits = nullptr;
    if (!GetBitmapInfo(picture, &pBits))
        return 0;
    m_thread.Run([&] { m_picture = picture; });
    return 1;
}

int CMainDlg::ShowMessage(const CMessage& message) {
    std::string strText = message.m_strText;
    if (!message.m_strDetail.empty())
        strText += "\r\n\r\n" + message.m_strDetail;
    const UINT nType = message.m_eButtons == EButtons::RetryCancel ? MB_RETRYCANCEL : MB_OK;
    int nResult = kIdOk;
    m_thread.Run([&] {
        nResult = MessageBoxW(m_hWnd, WideOf(strText).c_str(),
                              WideOf(GetApplicationTitle()).c_str(), nType);
    });
    // MessageBox answers with the same numbers as the operator interface.
    return nResult == IDRETRY ? kIdRetry : nResult == IDCANCEL ? kIdCancel : kIdOk;
}

void CMainDlg::BeginWaitCursor() {
    m_thread.Run([this] {
        ++m_nWaitCursor;
        SetCursor(LoadCursor(nullptr, IDC_WAIT));
        // Opening a port may take a while; the operator reads the step meanwhile.
        UpdateWindow(m_hWnd);
    });
}

void CMainDlg::EndWaitCursor() {
    m_thread.Run([this] {
        if (m_nWaitCursor > 0 && --m_nWaitCursor == 0)
            SetCursor(LoadCursor(nullptr, IDC_ARROW));
    });
}

bool CMainDlg::RunPortDialog(std::string& strPort) {
    bool bOk = false;
    m_thread.Run([&] { bOk = RunPortDlg(m_hWnd, strPort); });
    return bOk;
}

bool CMainDlg::RunFileOpenDialog(const std::string& strFolder, const std::string& strFile,
                                 std::string& strChosen) {
    bool bOk = false;
    m_thread.Run([&] {
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
    });
    return bOk;
}

std::unique_ptr<IProgressSink> CMainDlg::CreateProgress() {
    return std::make_unique<CWinProgressDlg>(m_thread, m_hWnd);
}
