// Stand-ins for pieces other folders are still building; removed as each lands.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>

#include "transfer/PackageFile.h"

CPackageFile::~CPackageFile() {
    Close();
}

int CPackageFile::Open(const std::string& strPath) {
    Close();
    m_nFd = ::open(strPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (m_nFd < 0) {
        m_nError = errno;
        return 0;
    }
    return 1;
}

void CPackageFile::Close() {
    if (m_nFd >= 0)
        ::close(m_nFd);
    m_nFd = -1;
}

int64_t CPackageFile::GetLength() const {
    struct stat st {};
    return fstat(m_nFd, &st) == 0 ? st.st_size : -1;
}

int CPackageFile::Read(void* pDest, int nMax) {
    return static_cast<int>(::read(m_nFd, pDest, nMax));
}
