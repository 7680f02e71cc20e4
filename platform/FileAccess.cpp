#include "platform/FileAccess.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

int OpenFileToRead(const std::string& strPath) {
    return ::open(strPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
}

void CloseFile(int nFd) {
    ::close(nFd);
}

int GetRegularFileLength(int nFd, int64_t* pnLength) {
    struct stat st {};
    if (::fstat(nFd, &st) != 0)
        return errno;
    if (!S_ISREG(st.st_mode))
        return S_ISDIR(st.st_mode) ? EISDIR : ENOTSUP;
    if (pnLength)
        *pnLength = static_cast<int64_t>(st.st_size);
    return 0;
}

int LockFileExclusive(int nFd) {
    return ::flock(nFd, LOCK_EX | LOCK_NB) == 0 ? 0 : errno;
}

ssize_t ReadFileSome(int nFd, void* pDest, size_t nMax) {
    for (;;) {
        const ssize_t n = ::read(nFd, pDest, nMax);
        if (n >= 0 || errno != EINTR)
            return n;
    }
}

ssize_t ReadFileAt(int nFd, void* pDest, size_t nMax, int64_t nOffset) {
    for (;;) {
        const ssize_t n = ::pread(nFd, pDest, nMax, static_cast<off_t>(nOffset));
        if (n >= 0 || errno != EINTR)
            return n;
    }
}

int WriteNewFile(const std::string& strPath, const std::string& strData) {
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(strPath).parent_path(), error);
    const int nFd = open(strPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (nFd < 0)
        return errno;
    int nErrno = 0;
    for (size_t nDone = 0; nDone < strData.size();) {
        const ssize_t nWritten = write(nFd, strData.data() + nDone, strData.size() - nDone);
        if (nWritten < 0 && errno == EINTR)
            continue;
        if (nWritten <= 0) {
            nErrno = nWritten < 0 ? errno : EIO;
            break;
        }
        nDone += static_cast<size_t>(nWritten);
    }
    if (close(nFd) != 0 && nErrno == 0)
        nErrno = errno;
    return nErrno;
}
