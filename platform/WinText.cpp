#include "platform/WinText.h"

#include "platform/Win32Api.h"

std::wstring WideOf(const std::string& str) {
    if (str.empty())
        return {};
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, str.data(), static_cast<int>(str.size()), nullptr, 0);
    std::wstring strWide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, str.data(), static_cast<int>(str.size()), strWide.data(), n);
    return strWide;
}

std::string Utf8Of(const std::wstring& str) {
    if (str.empty())
        return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, str.data(), static_cast<int>(str.size()), nullptr,
                                      0, nullptr, nullptr);
    std::string strUtf8(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, str.data(), static_cast<int>(str.size()), strUtf8.data(), n,
                        nullptr, nullptr);
    return strUtf8;
}
