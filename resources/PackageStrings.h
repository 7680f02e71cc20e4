#pragma once
// The package the transfer would send, as a front end shows it: its header text, and why a
// chosen file is no package, in the operator's language.
#include <string>

#include "resources/Strings.h"
#include "ufw/PackageInspector.h"

// strPackagePath empty: the built-in package ("BIN" 150); otherwise the file, as
// ReadPackageFileText reads it.
std::string ReadPackageText(const std::string& strPackagePath);

// The reader's sentence for fault from the string table of eLanguage.
std::string DescribePackageFault(const CPackageFault& fault, ELanguage eLanguage);
