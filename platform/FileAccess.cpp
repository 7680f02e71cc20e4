#include "platform/FileAccess.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

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
