#pragma once
// The message an operator sees when a chosen package file cannot be opened: the OS cause sorted
// into one of nine texts, with the file's full path.
#include <string>

class IOperator;

enum class EFileError {
    Generic, // anything the other rows do not name
    FileNotFound,
    BadPath,
    TooManyOpenFiles,
    AccessDenied,
    HardIo,
    SharingViolation,
    LockViolation,
    NotRegularFile, // a FIFO, device or socket: nothing a package could be read from
};

EFileError ClassifyFileError(int nErrno);
// The text for nErrno with strFullPath in place of %1.
std::string FormatFileError(int nErrno, const std::string& strFullPath);
// strPath made absolute the way the operator should read it; strPath itself when that fails.
std::string GetFullPath(const std::string& strPath);
// OK box captioned with the application title; the OS's own words go along as the detail.
void ReportFileError(IOperator& op, int nErrno, const std::string& strPath);
