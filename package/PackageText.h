#pragma once
// The header text of a firmware package, bytes 10 to 31, as the main window's top line and the
// About box show it.
#include <string>

// strPackagePath empty: the built-in package ("BIN" 150). Otherwise the file, read without any
// report: one that cannot be opened or read, or is shorter than 11 bytes, gives an empty text.
// The text ends at the first zero byte and has at most 22 characters.
std::string ReadPackageText(const std::string& strPackagePath);
