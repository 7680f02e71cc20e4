// step-text-fit.exe: every step text in the Win32 window's own step text box, in the language of
// the user (as versionup.exe takes it), measured line by line as the box lays it out: a line
// whose end lies beyond the box, or a line below it, would be read in part or not at all. Prints
// one line per text and ends with 1 when any does not fit. It makes the main window's template from its own copy of the .rc, so
// the box has the style, size and font the program's has.
#include "platform/Win32Api.h"
// After windows.h, which it needs.
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "frontend/WizardState.h"
#include "platform/WinText.h"
#include "resources/Strings.h"
#include "tests/support/StepTexts.h"
#include "win32/ResourceIds.h"

namespace {

INT_PTR CALLBACK NoDialogProc(HWND, UINT, WPARAM, LPARAM) {
    return FALSE;
}

// How far right the end of each line of the box reaches, at most, in the box's coordinates.
int WidestLineEnd(HWND hBox) {
    const int nLength = GetWindowTextLengthW(hBox);
    std::wstring strText(static_cast<size_t>(nLength) + 1, L'\0');
    GetWindowTextW(hBox, strText.data(), nLength + 1);
    HDC hDc = GetDC(hBox);
    HGDIOBJ hOld = SelectObject(hDc, reinterpret_cast<HFONT>(SendMessageW(hBox, WM_GETFONT, 0, 0)));
    int nWidest = 0;
    const int nLines = static_cast<int>(SendMessageW(hBox, EM_GETLINECOUNT, 0, 0));
    for (int nLine = 0; nLine < nLines; ++nLine) {
        const int nFirst = static_cast<int>(SendMessageW(hBox, EM_LINEINDEX, nLine, 0));
        const int nCount = static_cast<int>(SendMessageW(hBox, EM_LINELENGTH, nFirst, 0));
        if (nFirst < 0 || nCount <= 0)
            continue;
        const int nLast = nFirst + nCount - 1;
        const LRESULT pos = SendMessageW(hBox, EM_POSFROMCHAR, nLast, 0);
        if (pos == -1)
            continue;
        SIZE size{};
        GetTextExtentPoint32W(hDc, strText.c_str() + nLast, 1, &size);
        nWidest = std::max(nWidest, static_cast<short>(LOWORD(pos)) + static_cast<int>(size.cx));
    }
    SelectObject(hDc, hOld);
    ReleaseDC(hBox, hDc);
    return nWidest;
}

} // namespace

int main() {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    HWND hDlg = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_VERSIONUP),
                                   nullptr, NoDialogProc, 0);
    HWND hBox = hDlg ? GetDlgItem(hDlg, kIdStepText) : nullptr;
    if (!hBox) {
        std::printf("FAIL: no main window template\n");
        return 1;
    }
    const bool bJapanese = GetUserLanguage() == ELanguage::Japanese;
    RECT rcBox{};
    SendMessageW(hBox, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&rcBox));
    int nLineHeight = 0;
    {
        HDC hDc = GetDC(hBox);
        HGDIOBJ hOld =
            SelectObject(hDc, reinterpret_cast<HFONT>(SendMessageW(hBox, WM_GETFONT, 0, 0)));
        TEXTMETRICW tm{};
        GetTextMetricsW(hDc, &tm);
        nLineHeight = tm.tmHeight;
        SelectObject(hDc, hOld);
        ReleaseDC(hBox, hDc);
    }
    int nFaults = 0;
    for (unsigned nId : StepTextIds()) {
        SetWindowTextW(hBox, WideOf(LoadString(nId)).c_str());
        const int nEnd = WidestLineEnd(hBox);
        const int nLines = static_cast<int>(SendMessageW(hBox, EM_GETLINECOUNT, 0, 0));
        // The last line's bottom, as the box places it: more lines than the box shows would
        // need the scroll bar.
        const LRESULT last =
            SendMessageW(hBox, EM_POSFROMCHAR, SendMessageW(hBox, EM_LINEINDEX, nLines - 1, 0), 0);
        const int nBottom = static_cast<short>(HIWORD(last)) + nLineHeight;
        const bool bFits = nEnd <= rcBox.right && nBottom <= rcBox.bottom;
        nFaults += bFits ? 0 : 1;
        std::printf("%s %u %s: %d line(s), widest ends at %d of %ld, bottom at %d of %ld\n",
                    bFits ? "ok" : "FAIL", nId, bJapanese ? "ja" : "en", nLines, nEnd, rcBox.right,
                    nBottom, rcBox.bottom);
    }
    DestroyWindow(hDlg);
    return nFaults ? 1 : 0;
}
