#include "platform/System.h"

#include <io.h>
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include "platform/WinText.h"

std::string GetProgramPath() {
    std::wstring strPath(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n =
            GetModuleFileNameW(nullptr, strPath.data(), static_cast<DWORD>(strPath.size()));
        if (n == 0)
            return {};
        if (n < strPath.size()) {
            strPath.resize(n);
            return Utf8Of(strPath);
        }
        strPath.resize(strPath.size() * 2);
    }
}

namespace {

HANDLE HandleOf(std::FILE* pStream) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(pStream)));
}

} // namespace

std::vector<std::string> GetProgramArguments(int argc, char** argv) {
    int nCount = 0;
    LPWSTR* ppArgs = CommandLineToArgvW(GetCommandLineW(), &nCount);
    if (!ppArgs)
        return std::vector<std::string>(argv + 1, argv + argc);
    std::vector<std::string> args;
    for (int i = 1; i < nCount; ++i)
        args.push_back(Utf8Of(ppArgs[i]));
    LocalFree(ppArgs);
    return args;
}

void UseUtf8Console() {
    SetConsoleOutputCP(CP_UTF8);
}

// A console handle answers GetConsoleMode; a pipe or a file does not (_isatty is true for NUL
// too, which is no terminal).
bool IsTerminal(std::FILE* pStream) {
    DWORD dwMode = 0;
    return GetConsoleMode(HandleOf(pStream), &dwMode) != 0;
}

int GetTerminalColumns(std::FILE* pStream) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(HandleOf(pStream), &info))
        return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

std::string GetSystemUiLanguage() {
    switch (PRIMARYLANGID(GetUserDefaultUILanguage())) {
    case LANG_JAPANESE:
        return "ja";
    case LANG_ENGLISH:
        return "en";
    default:
        return "other";
    }
}
