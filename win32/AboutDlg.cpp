#include "win32/AboutDlg.h"

#include "platform/WinText.h"
#include "win32/ResourceIds.h"

namespace {

INT_PTR CALLBACK AboutDialogProc(HWND hDlg, UINT nMsg, WPARAM wParam, LPARAM lParam) {
    switch (nMsg) {
    case WM_INITDIALOG:
        SetDlgItemTextW(hDlg, IDC_UPGRADE_FOR,
                        WideOf(*reinterpret_cast<const std::string*>(lParam)).c_str());
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(hDlg, LOWORD(wParam));
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

} // namespace

void RunAboutDlg(HWND hOwner, const std::string& strUpgradeFor) {
    DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_ABOUT), hOwner, AboutDialogProc,
                    reinterpret_cast<LPARAM>(&strUpgradeFor));
}
