#include "wizard/PackageError.h"

#include <initializer_list>

#include "frontend/Operator.h"
#include "resources/StringIds.h"
#include "resources/Strings.h"
#include "wizard/FileError.h"

namespace {

// Puts the arguments in place of %1, %2, ... of the format, scanning the format only: a path or a
// fault may itself hold "%2".
std::string FillIn(const std::string& strFormat, std::initializer_list<std::string> args) {
    std::string strText;
    for (size_t i = 0; i < strFormat.size(); ++i) {
        const char c = strFormat[i];
        if (c == '%' && i + 1 < strFormat.size() && strFormat[i + 1] >= '1' &&
            strFormat[i + 1] <= '9') {
            const size_t nArg = static_cast<size_t>(strFormat[i + 1] - '1');
            if (nArg < args.size()) {
                strText += args.begin()[nArg];
                ++i;
                continue;
            }
        }
        strText += c;
    }
    return strText;
}

} // namespace

std::string FormatNotAPackage(const std::string& strFullPath) {
    return FillIn(LoadString(kIdsNotAPackage), {strFullPath});
}

std::string FormatPackageFault(const CLoadedPackage& loaded) {
    if (loaded.m_eResult == EPackageLoad::TooLarge)
        return LoadString(kIdsPackageTooLarge);
    return FillIn(LoadString(kIdsPackageFault),
                  {std::to_string(loaded.m_fault.m_nOffset), loaded.m_fault.m_strWhat});
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
