#pragma once
// What the operator sees when a chosen package file cannot be sent: the file-error report when it
// does not open or read, or a box saying it is no valid firmware package and naming its first
// fault.
#include <string>

#include "ufw/PackageCheck.h"

class IOperator;

// The box's text and detail for a file refused as too large or malformed, strFullPath in place
// of %1.
std::string FormatNotAPackage(const std::string& strFullPath);
std::string FormatPackageFault(const CLoadedPackage& loaded);

// OK box captioned with the application title, for any result but Ok.
void ReportUnsendablePackage(IOperator& op, const CLoadedPackage& loaded,
                             const std::string& strPath);
