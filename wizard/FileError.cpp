#include "wizard/FileError.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "frontend/Operator.h"
#include "resources/StringIds.h"
#include "resources/Strings.h"

EFileError ClassifyFileError(int nErrno) {
    switch (nErrno) {
    case ENOENT:
        return EFileError::FileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case EINVAL:
    case ELOOP:
        return EFileError::BadPath;
    case EMFILE:
    case ENFILE:
        return EFileError::TooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EISDIR: // a folder is no file to send; the other platform calls this access denied
        return EFileError::AccessDenied;
    case EIO:
        return EFileError::HardIo;
    // The file is in use by another program in a way that excludes us: executing, a device it
    // keeps busy, or (EWOULDBLOCK from the open's flock) holding a lock on it. The other
    // platform opens the package unshared and calls all of these a sharing violation.
    case ETXTBSY:
    case EBUSY:
    case EWOULDBLOCK:
        return EFileError::SharingViolation;
    // A lock that went wrong rather than one someone else holds.
    case ENOLCK:
    case EDEADLK:
        return EFileError::LockViolation;
    // What the package file's open gives for anything but a regular file, and what the OS gives
    // for a device file without its device or a socket.
    case ENOTSUP:
    case ENXIO:
    case ENODEV:
        return EFileError::NotRegularFile;
    default:
        return EFileError::Generic;
    }
}

std::string FormatFileError(int nErrno, const std::string& strFullPath) {
    const char* pszFormat = "An unknown error occurred while accessing %1.";
    switch (ClassifyFileError(nErrno)) {
    case EFileError::Generic:
        break;
    case EFileError::FileNotFound:
        pszFormat = "%1 was not found.";
        break;
    case EFileError::BadPath:
        pszFormat = "%1 contains an invalid path.";
        break;
    case EFileError::TooManyOpenFiles:
        pszFormat = "%1 could not be opened because there are too many open files.";
        break;
    case EFileError::AccessDenied:
        pszFormat = "Access to %1 was denied.";
        break;
    case EFileError::HardIo:
        pszFormat = "A hardware I/O error was reported while accessing %1.";
        break;
    case EFileError::SharingViolation:
        pszFormat = "A sharing violation occurred while accessing %1.";
        break;
    case EFileError::LockViolation:
        pszFormat = "A locking violation occurred while accessing %1.";
        break;
    case EFileError::NotRegularFile:
        return FillPlaceholders(LoadString(kIdsNotRegularFile), {strFullPath});
    }
    return FillPlaceholders(pszFormat, {strFullPath});
}

std::string GetFullPath(const std::string& strPath) {
    if (strPath.empty())
        return strPath;
    // As UTF-8 both ways: a path made from a plain string is read in Windows' ANSI code page,
    // which would garble a folder named in another script.
    std::error_code ec;
    const std::filesystem::path full =
        std::filesystem::absolute(std::u8string(strPath.begin(), strPath.end()), ec);
    if (ec)
        return strPath;
    const std::u8string strFull = full.lexically_normal().u8string();
    return std::string(strFull.begin(), strFull.end());
}

void ReportFileError(IOperator& op, int nErrno, const std::string& strPath) {
    CMessage message;
    message.m_strText = FormatFileError(nErrno, GetFullPath(strPath));
    if (nErrno != 0)
        message.m_strDetail = std::strerror(nErrno);
    message.m_eButtons = EButtons::Ok;
    op.ShowMessage(message);
}
