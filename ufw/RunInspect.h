#pragma once
// What ufw-inspect and versionup-cli inspect do with the file named on their command line.
#include <cstdint>
#include <cstdio>
#include <string>
#include <system_error>
#include <vector>

#include "ufw/PackageInspector.h"

struct CInspectRun {
    int m_nExit = 2;              // 0 well-formed, 1 malformed, 2 the file cannot be read
    std::error_code m_readError;  // why it cannot be read (EFBIG: beyond the size limit)
    std::vector<uint8_t> m_bytes; // as read
    CPackageReport m_report;
    std::string m_strOut; // "file" with the path and the report; empty when unreadable
    std::string m_strErr; // the first fault after the program's name; empty when well-formed
};

// Reads and judges strPath as RunInspect does, leaving the texts to the caller to print.
CInspectRun InspectFile(const std::string& strPath, const char* pszProgram);

// Reads strPath (whatever kind of file, no more than kMaxPackageFileSize bytes), prints "file"
// with the path and the report on pOut, and for a malformed package names the first fault on
// pErr after pszProgram. A file it cannot read prints nothing: the caller words m_readError.
CInspectRun RunInspect(const std::string& strPath, const char* pszProgram, FILE* pOut, FILE* pErr);
// m_readError in the tools' own words: the size limit, or the OS's.
std::string DescribeReadError(std::error_code error);
