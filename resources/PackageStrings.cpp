#include "resources/PackageStrings.h"

#include "resources/Resources.h"
#include "ufw/PackageText.h"

std::string ReadPackageText(const std::string& strPackagePath) {
    if (!strPackagePath.empty())
        return ReadPackageFileText(strPackagePath);
    // Only the bytes the resource has: a stand-in set in a test may be shorter than 32.
    const CResource res = FindResource("BIN", kIdPackage);
    return res ? PackageHeaderText(res.m_pData, res.m_nSize) : std::string();
}

std::string DescribePackageFault(const CPackageFault& fault, ELanguage eLanguage) {
    return FillPackageFault(
        fault, LoadString(kFirstPackageFaultText + static_cast<unsigned>(fault.m_eKind), eLanguage),
        LoadString(kPackageEndOfFileText, eLanguage));
}
