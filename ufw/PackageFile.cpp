#include "ufw/PackageFile.h"

#include <cerrno>

#include "platform/FileAccess.h"
#include "platform/OsError.h"

std::error_code CheckRegularFile(int nFd, int64_t* pnLength) {
    if (const int nErrno = GetRegularFileLength(nFd, pnLength))
        return OsError(nErrno);
    return {};
}

int OpenRegularFile(const std::string& strPath) {
    const int nFd = OpenFileToRead(strPath);
    if (nFd < 0)
        return -1;
    if (const std::error_code error = CheckRegularFile(nFd)) {
        CloseFile(nFd);
        errno = error.value();
        return -1;
    }
    return nFd;
}

std::error_code ReadFileToInspect(const std::string& strPath, std::vector<uint8_t>& bytes) {
    const int64_t nMax = kMaxPackageFileSize;
    bytes.clear();
    const int nFd = OpenFileToRead(strPath);
    if (nFd < 0)
        return LastOsError();
    // Only a regular file tells its size beforehand; anything else is read up to the limit.
    int64_t nLength = 0;
    if (!CheckRegularFile(nFd, &nLength) && nLength > nMax) {
        CloseFile(nFd);
        return OsError(EFBIG);
    }
    uint8_t buf[65536];
    std::error_code error;
    for (;;) {
        const ssize_t n = ReadFileSome(nFd, buf, sizeof buf);
        if (n < 0) {
            error = LastOsError();
            break;
        }
        if (n == 0)
            break;
        bytes.insert(bytes.end(), buf, buf + n);
        if (static_cast<int64_t>(bytes.size()) > nMax) {
            error = OsError(EFBIG);
            break;
        }
    }
    CloseFile(nFd);
    return error;
}

CPackageFile::~CPackageFile() {
    Close();
}

int CPackageFile::Open(const std::string& strPath) {
    Close();
    m_error.clear();
    const int nFd = OpenRegularFile(strPath);
    if (nFd < 0) {
        m_error = LastOsError();
        return 0;
    }
    // Nobody else may hold the file while it is sent; another program that has it locked makes
    // the open fail with EWOULDBLOCK rather than wait. The lock is advisory, so a file system
    // that cannot lock at all (ENOLCK on a network share) does not cost a readable package.
    if (LockFileExclusive(nFd) == EWOULDBLOCK) {
        m_error = OsError(EWOULDBLOCK);
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
        m_error = OsError(EBADF);
        return -1;
    }
    // A short read of a regular file means its end; keep reading until nMax or the end so a
    // piece is only short at the end of the file.
    auto* pOut = static_cast<unsigned char*>(pDest);
    int nTotal = 0;
    while (nTotal < nMax) {
        const ssize_t n = ReadFileSome(m_nFd, pOut + nTotal, static_cast<size_t>(nMax - nTotal));
        if (n < 0) {
            m_error = LastOsError();
            return -1;
        }
        if (n == 0)
            break;
        nTotal += static_cast<int>(n);
    }
    return nTotal;
}
