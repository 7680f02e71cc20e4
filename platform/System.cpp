#include "platform/System.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <thread>

std::string GetProgramPath() {
    char szPath[PATH_MAX];
    const ssize_t nLength = readlink("/proc/self/exe", szPath, sizeof(szPath) - 1);
    if (nLength <= 0)
        return {};
    return std::string(szPath, static_cast<size_t>(nLength));
}

bool GetEnvironmentText(const char* pszName, std::string& strValue) {
    const char* pszValue = std::getenv(pszName);
    if (!pszValue)
        return false;
    strValue = pszValue;
    return true;
}

std::vector<std::string> GetProgramArguments(int argc, char** argv) {
    return std::vector<std::string>(argv + 1, argv + argc);
}

void UseUtf8Console() {}

void IgnoreClosedOutput() {
    std::signal(SIGPIPE, SIG_IGN);
}

int DuplicateOutput(std::FILE* pStream) {
    const int nFd = fileno(pStream);
    return nFd >= 0 ? fcntl(nFd, F_DUPFD_CLOEXEC, 0) : -1;
}

bool WriteOutput(int nFd, const char* pData, size_t nCount) {
    for (size_t nDone = 0; nDone < nCount;) {
        const ssize_t nWritten = ::write(nFd, pData + nDone, nCount - nDone);
        if (nWritten < 0 && errno == EINTR)
            continue;
        if (nWritten <= 0)
            return false;
        nDone += static_cast<size_t>(nWritten);
    }
    return true;
}

void CloseOutput(int nFd) {
    ::close(nFd);
}

bool IsTerminal(std::FILE* pStream) {
    return isatty(fileno(pStream)) == 1;
}

int GetTerminalColumns(std::FILE* pStream) {
    struct winsize size {};
    if (ioctl(fileno(pStream), TIOCGWINSZ, &size) == 0)
        return size.ws_col;
    return 0;
}

std::string GetSystemUiLanguage() {
    return {};
}

void SleepAtLeastMicroseconds(int64_t nMicroseconds) {
    if (nMicroseconds > 0)
        std::this_thread::sleep_for(std::chrono::microseconds(nMicroseconds));
}

std::tm LocalTimeOf(int64_t nUnixSeconds) {
    const std::time_t nTime = static_cast<std::time_t>(nUnixSeconds);
    std::tm local{};
    localtime_r(&nTime, &local);
    return local;
}
