#include "platform/System.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <climits>

std::string GetProgramPath() {
    char szPath[PATH_MAX];
    const ssize_t nLength = readlink("/proc/self/exe", szPath, sizeof(szPath) - 1);
    if (nLength <= 0)
        return {};
    return std::string(szPath, static_cast<size_t>(nLength));
}

std::vector<std::string> GetProgramArguments(int argc, char** argv) {
    return std::vector<std::string>(argv + 1, argv + argc);
}

void UseUtf8Console() {}

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
