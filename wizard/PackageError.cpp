#include "wizard/PackageError.h"

#include "frontend/Operator.h"
#include "resources/PackageStrings.h"
#include "resources/StringIds.h"
#include "resources/Strings.h"
#include "wizard/FileError.h"

std::string FormatNotAPackage(const std::string& strFullPath) {
    return FillPlaceholders(LoadString(kIdsNotAPackage), {strFullPath});
}

std::string FormatPackageFault(const CLoadedPackage& loaded) {
    if (loaded.m_eResult == EPackageLoad::TooLarge)
        return LoadString(kIdsPackageTooLarge);
    return FillPlaceholders(LoadString(kIdsPackageFault),
                            {std::to_string(loaded.m_fault.m_nOffset),
                             DescribePackageFault(loaded.m_fault, GetUserLanguage())});
}

void ReportUnsendablePackage(IOperator& op, const CLoadedPackage& loaded,
                             const std::string& strPath) {
    if (loaded.m_eResult == EPackageLoad::FileError) {
        ReportFileError(op, loaded.m_nErrno, strPath);
        return;
    }
    CMessage message;
    message.m_nId = kIdsNotAPackage;
    message.m_strText = FormatNotAPackage(GetFullPath(strPath));
    message.m_strDetail = FormatPackageFault(loaded);
    message.m_eButtons = EButtons::Ok;
    op.ShowMessage(message);
}
