#pragma once
// A package file chosen to be sent, read once and checked: the machine's loader writes whatever
// it is given into flash, so a picture, a cut-off download or a package with a damaged record can
// leave the machine unable to start. Only a well-formed package goes out, exactly as it was read.
#include <cstdint>
#include <string>
#include <vector>

#include "ufw/PackageFile.h"
#include "ufw/PackageInspector.h"

enum class EPackageLoad { Ok, FileError, TooLarge, Malformed };

struct CLoadedPackage {
    EPackageLoad m_eResult = EPackageLoad::FileError;
    int m_nErrno = 0;             // FileError: the OS cause (from CPackageFile::Open or read)
    CPackageFault m_fault;        // Malformed: the first fault
    std::vector<uint8_t> m_bytes; // Ok: exactly the bytes checked, sent unchanged
};

// Reads a chosen package once (beyond kMaxPackageFileSize refused before reading) and checks
// it.
CLoadedPackage LoadCheckedPackage(const std::string& strPath);
