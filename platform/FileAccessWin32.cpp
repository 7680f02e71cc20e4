#include "platform/FileAccess.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <system_error>

#include "platform/Win32Api.h"
#include "platform/WinText.h"

namespace {

HANDLE HandleOf(int nFd) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(nFd));
}

} // namespace

namespace {

int ErrnoOfWriteError(DWORD dwError) {
    switch (dwError) {
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
        return EACCES;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return EBUSY;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_WRITE_PROTECT:
        return EROFS;
    default:
        return EIO;
    }
}

} // namespace

// CREATE_NEW is the system's own "do not replace"; the C runtime's "wx" is C11 and not promised
// by the system's runtime.
int WriteNewFile(const std::string& strPath, const std::string& strData) {
    const std::filesystem::path path(WideOf(strPath));
    std::error_code error;
    std::filesystem::create_directories(path.parent_path(), error);
    const HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return ErrnoOfWriteError(GetLastError());
    int nErrno = 0;
    for (size_t nDone = 0; nDone < strData.size();) {
        const DWORD dwChunk = static_cast<DWORD>(std::min<size_t>(strData.size() - nDone, 1 << 20));
        DWORD dwWritten = 0;
        if (!WriteFile(h, strData.data() + nDone, dwChunk, &dwWritten, nullptr) || dwWritten == 0) {
            nErrno = ErrnoOfWriteError(GetLastError());
            break;
        }
        nDone += dwWritten;
    }
    if (!CloseHandle(h) && nErrno == 0)
        nErrno = EIO;
    return nErrno;
}

// The file is shared for reading only, so nobody writes it while it is read or sent; the lock
// below is what tells another copy of this program that the file is taken.
int OpenFileToRead(const std::string& strPath) {
    const HANDLE h = CreateFileW(WideOf(strPath).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        switch (GetLastError()) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
            errno = ENOENT;
            break;
        case ERROR_ACCESS_DENIED:
            errno = EACCES;
            break;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            errno = EWOULDBLOCK;
            break;
        default:
            errno = EIO;
            break;
        }
        return -1;
    }
    const int nFd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDONLY | _O_BINARY);
    if (nFd < 0) {
        CloseHandle(h);
        errno = EMFILE;
    }
    return nFd;
}

void CloseFile(int nFd) {
    _close(nFd);
}

int GetRegularFileLength(int nFd, int64_t* pnLength) {
    const HANDLE h = HandleOf(nFd);
    if (h == INVALID_HANDLE_VALUE)
        return EBADF;
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info))
        return ENOTSUP;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return EISDIR;
    if (pnLength)
        *pnLength = (static_cast<int64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    return 0;
}

int LockFileExclusive(int nFd) {
    OVERLAPPED ov{};
    if (LockFileEx(HandleOf(nFd), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD,
                   MAXDWORD, &ov))
        return 0;
    return GetLastError() == ERROR_LOCK_VIOLATION ? EWOULDBLOCK : ENOLCK;
}

ssize_t ReadFileSome(int nFd, void* pDest, size_t nMax) {
    return _read(nFd, pDest, static_cast<unsigned>(nMax));
}

// A read with an offset in its OVERLAPPED record still moves the position of a handle opened
// for plain reads, so the position is put back, as pread leaves it.
ssize_t ReadFileAt(int nFd, void* pDest, size_t nMax, int64_t nOffset) {
    const int64_t nPosition = _lseeki64(nFd, 0, SEEK_CUR);
    OVERLAPPED ov{};
    ov.Offset = static_cast<DWORD>(nOffset);
    ov.OffsetHigh = static_cast<DWORD>(nOffset >> 32);
    DWORD dwRead = 0;
    const BOOL bRead = ReadFile(HandleOf(nFd), pDest, static_cast<DWORD>(nMax), &dwRead, &ov);
    const DWORD dwError = GetLastError();
    if (nPosition >= 0)
        _lseeki64(nFd, nPosition, SEEK_SET);
    if (!bRead) {
        if (dwError == ERROR_HANDLE_EOF)
            return 0;
        errno = EIO;
        return -1;
    }
    return static_cast<ssize_t>(dwRead);
}
