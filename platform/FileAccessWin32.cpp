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

struct CErrnoOf {
    DWORD m_dwError;
    int m_nErrno;
};

// Each Windows cause the file calls here meet, as the errno whose text (wizard/FileError) names
// that cause; a code meets the operator only through this table, so it is named once for the
// open, the read and the write alike.
constexpr CErrnoOf kErrnoOfWinError[] = {
    {ERROR_FILE_NOT_FOUND, ENOENT},
    {ERROR_PATH_NOT_FOUND, ENOENT},
    {ERROR_INVALID_DRIVE, ENOENT},
    {ERROR_BAD_NETPATH, ENOENT},
    {ERROR_BAD_NET_NAME, ENOENT},
    {ERROR_INVALID_NAME, EINVAL},
    {ERROR_BAD_PATHNAME, EINVAL},
    {ERROR_DIRECTORY, ENOTDIR},
    {ERROR_FILENAME_EXCED_RANGE, ENAMETOOLONG},
    {ERROR_TOO_MANY_OPEN_FILES, EMFILE},
    {ERROR_ACCESS_DENIED, EACCES},
    {ERROR_SHARING_VIOLATION, EBUSY},
    // A range another handle has locked: a locking violation, not the open's sharing violation.
    {ERROR_LOCK_VIOLATION, ENOLCK},
    {ERROR_FILE_EXISTS, EEXIST},
    {ERROR_ALREADY_EXISTS, EEXIST},
    {ERROR_DISK_FULL, ENOSPC},
    {ERROR_HANDLE_DISK_FULL, ENOSPC},
    {ERROR_WRITE_PROTECT, EROFS},
    {ERROR_NOT_ENOUGH_MEMORY, ENOMEM},
    {ERROR_OUTOFMEMORY, ENOMEM},
    // What the drive or its medium reported.
    {ERROR_CRC, EIO},
    {ERROR_SEEK, EIO},
    {ERROR_SECTOR_NOT_FOUND, EIO},
    {ERROR_READ_FAULT, EIO},
    {ERROR_WRITE_FAULT, EIO},
    {ERROR_GEN_FAILURE, EIO},
    {ERROR_IO_DEVICE, EIO},
    {ERROR_NOT_READY, EIO},
};

// No errno value: the texts call it an unknown error, and the system's words for it say the
// same, where any real errno would name a cause that was not reported.
constexpr int kErrnoUnknown = 0x7fff;

} // namespace

int ErrnoOfWinError(unsigned long nError) {
    for (const CErrnoOf& entry : kErrnoOfWinError) {
        if (entry.m_dwError == nError)
            return entry.m_nErrno;
    }
    return kErrnoUnknown;
}

// CREATE_NEW is the system's own "do not replace"; the C runtime's "wx" is C11 and not promised
// by the system's runtime.
int WriteNewFile(const std::string& strPath, const std::string& strData) {
    const std::filesystem::path path(WideOf(strPath));
    std::error_code error;
    std::filesystem::create_directories(path.parent_path(), error);
    const HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return ErrnoOfWinError(GetLastError());
    int nErrno = 0;
    for (size_t nDone = 0; nDone < strData.size();) {
        const DWORD dwChunk = static_cast<DWORD>(std::min<size_t>(strData.size() - nDone, 1 << 20));
        DWORD dwWritten = 0;
        if (!WriteFile(h, strData.data() + nDone, dwChunk, &dwWritten, nullptr) || dwWritten == 0) {
            nErrno = ErrnoOfWinError(GetLastError());
            break;
        }
        nDone += dwWritten;
    }
    if (!CloseHandle(h) && nErrno == 0)
        nErrno = ErrnoOfWinError(GetLastError());
    return nErrno;
}

// The file is shared for reading only, so nobody writes it while it is read or sent; the lock
// below is what tells another copy of this program that the file is taken.
int OpenFileToRead(const std::string& strPath) {
    const HANDLE h = CreateFileW(WideOf(strPath).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        errno = ErrnoOfWinError(GetLastError());
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
    // Here a lock violation is the answer the call exists for (another copy holds the file), as
    // flock's EWOULDBLOCK is; anything else is a file system that cannot lock.
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
        errno = ErrnoOfWinError(dwError);
        return -1;
    }
    return static_cast<ssize_t>(dwRead);
}
