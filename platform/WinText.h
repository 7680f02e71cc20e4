#pragma once
// UTF-8, the program's own encoding, to and from the UTF-16 of the Windows calls.
#include <string>

std::wstring WideOf(const std::string& str);
std::string Utf8Of(const std::wstring& str);
