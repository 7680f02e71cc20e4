#include "win32/WinProgressDlg.h"

#include "platform/WinText.h"
#include "resources/StringIds.h"
#include "resources/Strings.h"
#include "win32/ResourceIds.h"

CWinProgressDlg::~CWinProgressDlg() {
    // The owner comes back first, so that it, not some other program, becomes active.
    if (m_bOwnerDisabled)
        EnableWindow(m_hOwner, TRUE);
    if (m_phKeys && *m_phKeys == m_hDlg)
        *m_phKeys = nullptr;
    if (m_hDlg)
        DestroyWindow(m_hDlg);
}

int CWinProgressDlg::Create() {
    // Made hidden, so that it appears once, centred, over a main window that takes no input.
    m_hDlg = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_PROGRESS), m_hOwner,
                                DialogProc, reinterpret_cast<LPARAM>(this));
    if (!m_hDlg)
        return 0;
    SetWindowTextW(m_hDlg, WideOf(LoadString(kIdsSending)).c_str());
    SendDlgItemMessageW(m_hDlg, IDC_PROGRESS_BAR, PBM_SETRANGE32, m_model.GetLower(),
                        m_model.GetUpper());
    SendDlgItemMessageW(m_hDlg, IDC_PROGRESS_BAR, PBM_SETPOS, m_model.GetPos(), 0);
    RECT rcOwner{}, rcDlg{};
    if (m_hOwner && GetWindowRect(m_hOwner, &rcOwner) && GetWindowRect(m_hDlg, &rcDlg))
        SetWindowPos(m_hDlg, nullptr,
                     (rcOwner.left + rcOwner.right - (rcDlg.right - rcDlg.left)) / 2,
                     (rcOwner.top + rcOwner.bottom - (rcDlg.bottom - rcDlg.top)) / 2, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    if (m_hOwner && IsWindowEnabled(m_hOwner)) {
        EnableWindow(m_hOwner, FALSE);
        m_bOwnerDisabled = true;
    }
    if (m_phKeys)
        *m_phKeys = m_hDlg;
    ShowWindow(m_hDlg, SW_SHOW);
    SendMessageW(m_hDlg, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(m_hDlg, IDCANCEL)),
                 TRUE);
    return 1;
}

void CWinProgressDlg::SetMessage(const std::string& strText) {
    if (m_hDlg)
        SetDlgItemTextW(m_hDlg, IDC_PROGRESS_MESSAGE, WideOf(strText).c_str());
}

void CWinProgressDlg::SetRange(int32_t nLower, int32_t nUpper) {
    m_model.SetRange(nLower, nUpper);
    if (m_hDlg)
        SendDlgItemMessageW(m_hDlg, IDC_PROGRESS_BAR, PBM_SETRANGE32, nLower, nUpper);
}

int CWinProgressDlg::SetPos(int32_t nPos) {
    const std::string strBefore = m_model.GetPercent();
    bool bChanged = false;
    const int32_t nPrevious = m_model.SetPos(nPos, bChanged);
    if (!bChanged || !m_hDlg)
        return nPrevious;
    SendDlgItemMessageW(m_hDlg, IDC_PROGRESS_BAR, PBM_SETPOS, m_model.GetPos(), 0);
    // Drawn at once: the last position and the dialog's end may come in one go, and a label left
    // to a later paint would end the run at "99%".
    if (m_model.GetPercent() != strBefore) {
        SetDlgItemTextW(m_hDlg, IDC_PROGRESS_PERCENT, WideOf(m_model.GetPercent()).c_str());
        UpdateWindow(GetDlgItem(m_hDlg, IDC_PROGRESS_PERCENT));
    }
    return nPrevious;
}

INT_PTR CALLBACK CWinProgressDlg::DialogProc(HWND hDlg, UINT nMsg, WPARAM wParam, LPARAM lParam) {
    if (nMsg == WM_INITDIALOG) {
        SetWindowLongPtrW(hDlg, GWLP_USERDATA, lParam);
        return FALSE;
    }
    auto* pDlg = reinterpret_cast<CWinProgressDlg*>(GetWindowLongPtrW(hDlg, GWLP_USERDATA));
    // Cancel, Esc, Enter on the focused Cancel, the close box and Alt+F4 (through WM_CLOSE) all
    // come as IDCANCEL and only raise the flag; OK does nothing.
    if (pDlg && nMsg == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
        pDlg->m_bCancel = 1;
        return TRUE;
    }
    return nMsg == WM_COMMAND && LOWORD(wParam) == IDOK;
}
