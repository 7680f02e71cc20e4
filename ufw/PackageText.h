#pragma once
// The header text of a firmware package, bytes 10 to 31, as the main window's top line and the
// About box show it.
#include <cstddef>
#include <cstdint>
#include <string>

// The text from a package's bytes: it ends at the first zero byte and has at most 22
// characters; empty for fewer than 11 bytes.
std::string PackageHeaderText(const uint8_t* pData, size_t nSize);
// The text of a package file, read without any report: one that cannot be opened or read, or
// is shorter than 11 bytes, gives an empty text.
std::string ReadPackageFileText(const std::string& strPath);
