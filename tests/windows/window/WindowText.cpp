// window-text.exe: what a person would read on the screen, for the window tests under wine. For
// each visible top-level window whose title matches the argument (all when none is given): a
// line "window|TITLE|CLASS", then "ID|CLASS|TEXT" for each child, texts in UTF-8 with line breaks
// as "\n". WM_GETTEXT crosses processes for the standard controls, so the program under test needs
// no hook of its own.
#include "platform/Win32Api.h"
// After windows.h, which it needs.
#include <shellapi.h>

#include <cstdio>
#include <string>

#include "platform/WinText.h"

namespace {

std::string TextOf(HWND hWnd) {
    DWORD_PTR nLength = 0;
    if (!SendMessageTimeoutW(hWnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &nLength))
        return {};
    std::wstring str(nLength + 1, L'\0');
    DWORD_PTR nCopied = 0;
    SendMessageTimeoutW(hWnd, WM_GETTEXT, str.size(), reinterpret_cast<LPARAM>(str.data()),
                        SMTO_ABORTIFHUNG, 2000, &nCopied);
    str.resize(nCopied);
    std::string strOut;
    for (char ch : Utf8Of(str)) {
        if (ch == '\r')
            continue;
        strOut += ch == '\n' ? std::string("\\n") : std::string(1, ch);
    }
    return strOut;
}

BOOL CALLBACK PrintChild(HWND hChild, LPARAM) {
    wchar_t szClass[64] = {};
    GetClassNameW(hChild, szClass, 64);
    std::printf("%d|%s|%s%s\n", GetDlgCtrlID(hChild), Utf8Of(szClass).c_str(),
                TextOf(hChild).c_str(), IsWindowEnabled(hChild) ? "" : "|disabled");
    return TRUE;
}

BOOL CALLBACK PrintWindow(HWND hWnd, LPARAM lParam) {
    if (!IsWindowVisible(hWnd))
        return TRUE;
    const std::string strTitle = TextOf(hWnd);
    const std::string* pWanted = reinterpret_cast<const std::string*>(lParam);
    if (pWanted && strTitle != *pWanted)
        return TRUE;
    wchar_t szClass[64] = {};
    GetClassNameW(hWnd, szClass, 64);
    std::printf("window|%s|%s\n", strTitle.c_str(), Utf8Of(szClass).c_str());
    EnumChildWindows(hWnd, PrintChild, 0);
    return TRUE;
}

} // namespace

int main() {
    // The title from the wide command line: the narrow one has lost what the code page lacks.
    int nArgs = 0;
    wchar_t** ppArgs = CommandLineToArgvW(GetCommandLineW(), &nArgs);
    const std::string strWanted = ppArgs && nArgs > 1 ? Utf8Of(ppArgs[1]) : std::string();
    EnumWindows(PrintWindow, reinterpret_cast<LPARAM>(nArgs > 1 ? &strWanted : nullptr));
    LocalFree(ppArgs);
    return 0;
}
