#include "transfer/PackageFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

CPackageFile::~CPackageFile() {
    Close();
}

int CPackageFile::Open(const std::string& strPath) {
    Close();
    m_nError = 0;
    const int nFd = ::open(strPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (nFd < 0) {
        m_nError = errno;
        return 0;
    }
    struct stat st {};
    // A FIFO would block the window and a device would be sent without end: only a regular
    // file is a package.
    if (::fstat(nFd, &st) != 0 || !S_ISREG(st.st_mode)) {
        m_nError = S_ISDIR(st.st_mode) ? EISDIR : (S_ISREG(st.st_mode) ? errno : EINVAL);
        ::close(nFd);
        return 0;
    }
    // Nobody else may hold the file while it is sent; another program that has it locked makes
    // the open fail with EWOULDBLOCK rather than wait.
    if (::flock(nFd, LOCK_EX | LOCK_NB) != 0) {
        m_nError = errno;
        ::close(nFd);
        return 0;
    }
    m_nFd = nFd;
    return 1;
}

void CPackageFile::Close() {
    if (m_nFd >= 0) {
        ::close(m_nFd);
        m_nFd = -1;
    }
}

int64_t CPackageFile::GetLength() const {
    struct stat st {};
    if (m_nFd < 0 || ::fstat(m_nFd, &st) != 0)
        return -1;
    return static_cast<int64_t>(st.st_size);
}

int CPackageFile::Read(void* pDest, int nMax) {
    if (m_nFd < 0) {
        m_nError = EBADF;
        return -1;
    }
    // A short read of a regular file means its end; keep reading until nMax or the end so a
    // piece is only short at the end of the file.
    auto* pOut = static_cast<unsigned char*>(pDest);
    int nTotal = 0;
    while (nTotal < nMax) {
        const ssize_t n = ::read(m_nFd, pOut + nTotal, static_cast<size_t>(nMax - nTotal));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            m_nError = errno;
            return -1;
        }
        if (n == 0)
            break;
        nTotal += static_cast<int>(n);
    }
    return nTotal;
}
