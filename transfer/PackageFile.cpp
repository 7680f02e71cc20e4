#include "transfer/PackageFile.h"

#include <cerrno>

#include "platform/FileAccess.h"

int CheckRegularFile(int nFd, int64_t* pnLength) {
    return GetRegularFileLength(nFd, pnLength);
}

int OpenRegularFile(const std::string& strPath) {
    const int nFd = OpenFileToRead(strPath);
    if (nFd < 0)
        return -1;
    if (const int nError = CheckRegularFile(nFd)) {
        CloseFile(nFd);
        errno = nError;
        return -1;
    }
    return nFd;
}

int ReadFileToInspect(const std::string& strPath, std::vector<uint8_t>& bytes) {
    const int64_t nMax = kMaxInspectedFileSize;
    bytes.clear();
    const int nFd = OpenFileToRead(strPath);
    if (nFd < 0)
        return errno;
    // Only a regular file tells its size beforehand; anything else is read up to the limit.
    int64_t nLength = 0;
    if (CheckRegularFile(nFd, &nLength) == 0 && nLength > nMax) {
        CloseFile(nFd);
        return EFBIG;
    }
    uint8_t buf[65536];
    int nError = 0;
    for (;;) {
        const ssize_t n = ReadFileSome(nFd, buf, sizeof buf);
        if (n < 0) {
            nError = errno;
            break;
        }
        if (n == 0)
            break;
        bytes.insert(bytes.end(), buf, buf + n);
        if (static_cast<int64_t>(bytes.size()) > nMax) {
            nError = EFBIG;
            break;
        }
    }
    CloseFile(nFd);
    return nError;
}

CPackageFile::~CPackageFile() {
    Close();
}

int CPackageFile::Open(const std::string& strPath) {
    Close();
    m_nError = 0;
    const int nFd = OpenRegularFile(strPath);
    if (nFd < 0) {
        m_nError = errno;
        return 0;
    }
    // Nobody else may hold the file while it is sent; another program that has it locked makes
    // the open fail with EWOULDBLOCK rather than wait. The lock is advisory, so a file system
    // that cannot lock at all (ENOLCK on a network share) does not cost a readable package.
    if (LockFileExclusive(nFd) == EWOULDBLOCK) {
        m_nError = EWOULDBLOCK;
        CloseFile(nFd);
        return 0;
    }
    m_nFd = nFd;
    return 1;
}

void CPackageFile::Close() {
    if (m_nFd >= 0) {
        CloseFile(m_nFd);
        m_nFd = -1;
    }
}

int64_t CPackageFile::GetLength() const {
    int64_t nLength = -1;
    if (m_nFd < 0 || GetRegularFileLength(m_nFd, &nLength) != 0)
        return -1;
    return nLength;
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
        const ssize_t n = ReadFileSome(m_nFd, pOut + nTotal, static_cast<size_t>(nMax - nTotal));
        if (n < 0) {
            m_nError = errno;
            return -1;
        }
        if (n == 0)
            break;
        nTotal += static_cast<int>(n);
    }
    return nTotal;
}
