#pragma once
// The package the transfer would send, seen from the main window: its header text.
#include <string>

// strPackagePath empty: the built-in package ("BIN" 150); otherwise the file, as
// ReadPackageFileText reads it.
std::string ReadPackageText(const std::string& strPackagePath);
