#include "win32/WinPortDlg.h"

#include "device/PortList.h"
#include "platform/WinText.h"
#include "resources/StringIds.h"
#include "resources/Strings.h"
#include "win32/ResourceIds.h"

namespace {

// An item's port name: the text up to the mark of a port the check leaves alone ("COM9:
// (Bluetooth)").
std::string GetItemText(HWND hList, LRESULT nItem) {
    const LRESULT nLength = SendMessageW(hList, CB_GETLBTEXTLEN, nItem, 0);
    if (nLength < 0)
        return {};
    std::wstring strText(static_cast<size_t>(nLength) + 1, L'\0');
    SendMessageW(hList, CB_GETLBTEXT, nItem, reinterpret_cast<LPARAM>(strText.data()));
    strText.resize(static_cast<size_t>(nLength));
    const std::string strItem = Utf8Of(strText);
    return strItem.substr(0, strItem.find(' '));
}

INT_PTR CALLBACK PortDialogProc(HWND hDlg, UINT nMsg, WPARAM wParam, LPARAM lParam) {
    auto* pPort = reinterpret_cast<std::string*>(GetWindowLongPtrW(hDlg, GWLP_USERDATA));
    switch (nMsg) {
    case WM_INITDIALOG: {
        SetWindowLongPtrW(hDlg, GWLP_USERDATA, lParam);
        pPort = reinterpret_cast<std::string*>(lParam);
        HWND hList = GetDlgItem(hDlg, IDC_PORT_LIST);
        for (const CListedPort& port : ListPorts().m_ports) {
            // Listed to be chosen by hand; the mark says why the check passed it by.
            const std::string strItem =
                port.IsProbed() ? port.m_strName
                                : FillPlaceholders(LoadString(port.m_eKind == EPortKind::Bluetooth
                                                                  ? kIdsPortItemBluetooth
                                                                  : kIdsPortItemModem),
                                                   {port.m_strName});
            SendMessageW(hList, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(WideOf(strItem).c_str()));
        }
        LRESULT nSelected = 0;
        if (!pPort->empty()) {
            // A preset such as "COM3" finds "COM3:".
            const LRESULT nFound = SendMessageW(hList, CB_FINDSTRING, static_cast<WPARAM>(-1),
                                                reinterpret_cast<LPARAM>(WideOf(*pPort).c_str()));
            if (nFound != CB_ERR)
                nSelected = nFound;
        } else {
            *pPort = GetItemText(hList, 0);
        }
        SendMessageW(hList, CB_SETCURSEL, nSelected, 0);
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            // Typed text that is no item leaves the preset: the result is always a listed port.
            const LRESULT nSelected = SendDlgItemMessageW(hDlg, IDC_PORT_LIST, CB_GETCURSEL, 0, 0);
            if (nSelected != CB_ERR)
                *pPort = GetItemText(GetDlgItem(hDlg, IDC_PORT_LIST), nSelected);
            EndDialog(hDlg, IDOK);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(hDlg, IDCANCEL);
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

} // namespace

bool RunPortDlg(HWND hOwner, std::string& strPort) {
    std::string strChosen = strPort;
    if (DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_PORT), hOwner,
                        PortDialogProc, reinterpret_cast<LPARAM>(&strChosen)) != IDOK)
        return false;
    strPort = strChosen;
    return true;
}
