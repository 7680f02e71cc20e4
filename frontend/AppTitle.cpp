#include "frontend/AppTitle.h"

#include "platform/System.h"

std::string StripExtension(const std::string& strFileName) {
    const size_t nDot = strFileName.rfind('.');
    if (nDot == std::string::npos || nDot == 0)
        return strFileName;
    return strFileName.substr(0, nDot);
}

std::string GetApplicationTitle() {
    const std::string strPath = GetProgramPath();
    const std::string strName = strPath.substr(strPath.rfind(kPathSeparator) + 1);
    // The kernel marks a replaced executable with " (deleted)"; that is no part of the name.
    const std::string strDeleted = " (deleted)";
    std::string strFile = strName;
    if (strFile.size() > strDeleted.size() &&
        strFile.compare(strFile.size() - strDeleted.size(), strDeleted.size(), strDeleted) == 0)
        strFile.resize(strFile.size() - strDeleted.size());
    return StripExtension(strFile);
}

std::string GetProgramFolder() {
    const std::string strPath = GetProgramPath();
    const size_t nSlash = strPath.rfind(kPathSeparator);
    return nSlash == std::string::npos ? std::string() : strPath.substr(0, nSlash + 1);
}
