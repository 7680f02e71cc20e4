#include "platform/System.h"

#include <algorithm>

#include <io.h>

#include "platform/Win32Api.h"
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

bool GetEnvironmentText(const char* pszName, std::string& strValue) {
    const std::wstring strName = WideOf(pszName);
    std::wstring strWide(256, L'\0');
    for (;;) {
        SetLastError(ERROR_SUCCESS);
        const DWORD dwLength = GetEnvironmentVariableW(strName.c_str(), strWide.data(),
                                                       static_cast<DWORD>(strWide.size()));
        if (dwLength == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND)
            return false;
        // Too small: the length asked for counts the terminator.
        if (dwLength >= strWide.size()) {
            strWide.resize(dwLength);
            continue;
        }
        strWide.resize(dwLength);
        strValue = Utf8Of(strWide);
        return true;
    }
}

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
int DuplicateOutput(std::FILE* pStream) {
    const int nFd = _fileno(pStream);
    return nFd >= 0 ? _dup(nFd) : -1;
}

bool WriteOutput(int nFd, const char* pData, size_t nCount) {
    for (size_t nDone = 0; nDone < nCount;) {
        const size_t nChunk = std::min<size_t>(nCount - nDone, 1u << 20);
        const int nWritten = _write(nFd, pData + nDone, static_cast<unsigned>(nChunk));
        if (nWritten <= 0)
            return false;
        nDone += static_cast<size_t>(nWritten);
    }
    return true;
}

void CloseOutput(int nFd) {
    _close(nFd);
}

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

void IgnoreClosedOutput() {}

namespace {

// A waitable timer of the calling thread's own. A high-resolution one (Windows 10 1803 on) ends
// within a fraction of a millisecond of its time; the plain one waits for the system's timer
// tick, later but never early.
class CThreadTimer {
public:
    CThreadTimer() {
        // CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, which these headers do not have yet; earlier
        // systems refuse it.
        constexpr DWORD kHighResolution = 0x00000002;
        m_hTimer = CreateWaitableTimerExW(nullptr, nullptr, kHighResolution, TIMER_ALL_ACCESS);
        if (!m_hTimer)
            m_hTimer = CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
    }
    ~CThreadTimer() {
        if (m_hTimer)
            CloseHandle(m_hTimer);
    }
    CThreadTimer(const CThreadTimer&) = delete;
    CThreadTimer& operator=(const CThreadTimer&) = delete;

    bool Wait(int64_t nMicroseconds) {
        LARGE_INTEGER due;
        due.QuadPart = -nMicroseconds * 10; // relative, in 100 ns
        return m_hTimer && SetWaitableTimer(m_hTimer, &due, 0, nullptr, nullptr, FALSE) &&
               WaitForSingleObject(m_hTimer, INFINITE) == WAIT_OBJECT_0;
    }

private:
    HANDLE m_hTimer = nullptr;
};

} // namespace

void SleepAtLeastMicroseconds(int64_t nMicroseconds) {
    if (nMicroseconds <= 0)
        return;
    thread_local CThreadTimer timer;
    if (!timer.Wait(nMicroseconds))
        Sleep(static_cast<DWORD>((nMicroseconds + 999) / 1000));
}

std::tm LocalTimeOf(int64_t nUnixSeconds) {
    const std::time_t nTime = static_cast<std::time_t>(nUnixSeconds);
    std::tm local{};
    localtime_s(&local, &nTime);
    return local;
}
