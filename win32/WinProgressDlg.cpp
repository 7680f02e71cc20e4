#include "win32/WinProgressDlg.h"

#include <algorithm>

#include "frontend/ProgressPercent.h"
#include "platform/WinText.h"
#include "resources/StringIds.h"
#include "resources/Strings.h"
#include "win32/ResourceIds.h"

CWinProgressDlg::~CWinProgressDlg() {
    m_thread.Run([this] {
        // The owner comes back first, so that it, not some other program, becomes active.
        if (m_bOwnerDisabled)
            EnableWindow(m_hOwner, TRUE);
        if (m_hDlg)
            DestroyWindow(m_hDlg);
    });
}

int CWinProgressDlg::Create() {
    m_thread.Run([this] {
        m_hDlg = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_PROGRESS),
                                    m_hOwner, DialogProc, reinterpret_cast<LPARAM>(this));
        if (!m_hDlg)
            return;
        SetWindowTextW(m_hDlg, WideOf(LoadString(kIdsSending)).c_str());
        SendDlgItemMessageW(m_hDlg, IDC_PROGRESS_BAR, PBM_SETRANGE32, m_nLower, m_nUpper);
        RECT rcOwner{}, rcDlg{};
        if (m_hOwner && GetWindowRect(m_hOwner, &rcOwner) && GetWindowRect(m_hDlg, &rcDlg))
            SetWindowPos(m_hDlg, nullptr,
                         (rcOwner.left + rcOwner.right - (rcDlg.right - rcDlg.left)) / 2,
                         (rcOwner.top + rcOwner.bottom - (rcDlg.bottom - rcDlg.top)) / 2, 0, 0,
                         SWP_NOSIZE | SWP_NOZORDER);
        if (m_hOwner && IsWindowEnabled(m_hOwner)) {
            EnableWindow(m_hOwner, FALSE);
            m_bOwnerDisabled = true;
        }
        ShowWindow(m_hDlg, SW_SHOW);
        SetFocus(GetDlgItem(m_hDlg, IDCANCEL));
    });
    return m_hDlg ? 1 : 0;
}

void CWinProgressDlg::SetMessage(const std::string& strText) {
    m_thread.Run([&] { SetDlgItemTextW(m_hDlg, IDC_PROGRESS_MESSAGE, WideOf(strText).c_str()); });
}

void CWinProgressDlg::SetRange(int32_t nLower, int32_t nUpper) {
    m_nLower = nLower;
    m_nUpper = nUpper;
    m_nPos = std::clamp(m_nPos, std::min(nLower, nUpper), std::max(nLower, nUpper));
    m_thread.Run(
        [&] { SendDlgItemMessageW(m_hDlg, IDC_PROGRESS_BAR, PBM_SETRANGE32, nLower, nUpper); });
}

int CWinProgressDlg::SetPos(int32_t nPos) {
    // The bar keeps its position within its range, and answers with the one before. Only what
    // the operator would see change crosses to the window: the transfer calls this per byte.
    const int32_t nPrevious = m_nPos;
    const int32_t nShown =
        std::clamp(nPos, std::min(m_nLower, m_nUpper), std::max(m_nLower, m_nUpper));
    std::string strPercent = m_strPercent;
    FormatProgressPercent(m_nLower, m_nUpper, nPos, strPercent);
    if (nShown != m_nPos || strPercent != m_strPercent) {
        m_nPos = nShown;
        const bool bLabel = strPercent != m_strPercent;
        m_strPercent = strPercent;
        m_thread.Run([&] {
            SendDlgItemMessageW(m_hDlg, IDC_PROGRESS_BAR, PBM_SETPOS, nShown, 0);
            if (bLabel) {
                SetDlgItemTextW(m_hDlg, IDC_PROGRESS_PERCENT, WideOf(strPercent).c_str());
                UpdateWindow(GetDlgItem(m_hDlg, IDC_PROGRESS_PERCENT));
            }
        });
    }
    return nPrevious;
}

INT_PTR CALLBACK CWinProgressDlg::DialogProc(HWND hDlg, UINT nMsg, WPARAM wParam, LPARAM lParam) {
    if (nMsg == WM_INITDIALOG) {
        SetWindowLongPtrW(hDlg, GWLP_USERDATA, lParam);
        return FALSE;
    }
    auto* pDlg = reinterpret_cast<CWinProgressDlg*>(GetWindowLongPtrW(hDlg, GWLP_USERDATA));
    // Cancel, Esc and the close box only raise the flag; Enter (OK) does nothing.
    if (pDlg && nMsg == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
        pDlg->m_bCancel = 1;
        return TRUE;
    }
    return nMsg == WM_COMMAND && LOWORD(wParam) == IDOK;
}
