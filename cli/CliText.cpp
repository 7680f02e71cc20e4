#include "cli/CliText.h"

#include <algorithm>
#include <cstdio>

std::string FormatText(unsigned nId, ELanguage eLanguage, std::initializer_list<std::string> args) {
    return FillPlaceholders(LoadString(nId, eLanguage), args);
}

std::string OneLine(const std::string& strText) {
    std::string strOut;
    for (size_t i = 0; i < strText.size(); ++i) {
        if (strText[i] == '\r' && i + 1 < strText.size() && strText[i + 1] == '\n') {
            strOut += ' ';
            ++i;
        } else if (strText[i] == '\r' || strText[i] == '\n') {
            strOut += ' ';
        } else {
            strOut += strText[i];
        }
    }
    return strOut;
}

std::string Printable(const std::string& strReply) {
    std::string strOut;
    for (unsigned char c : strReply) {
        if (c < 0x20 || c == 0x7F || c == '\\') {
            char sz[8];
            std::snprintf(sz, sizeof sz, "\\x%02X", c);
            strOut += sz;
        } else {
            strOut += static_cast<char>(c);
        }
    }
    return strOut;
}

namespace {

// Length of the UTF-8 sequence at p (at most nLeft bytes), 0 when it is not a valid one.
size_t Utf8Length(const unsigned char* p, size_t nLeft) {
    size_t nLength = 0;
    if (p[0] < 0x80)
        return 1;
    if ((p[0] & 0xE0) == 0xC0 && p[0] >= 0xC2)
        nLength = 2;
    else if ((p[0] & 0xF0) == 0xE0)
        nLength = 3;
    else if ((p[0] & 0xF8) == 0xF0 && p[0] <= 0xF4)
        nLength = 4;
    else
        return 0;
    if (nLength > nLeft)
        return 0;
    for (size_t i = 1; i < nLength; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
    }
    // Overlong forms and surrogates are not UTF-8 either.
    if (nLength == 3 && ((p[0] == 0xE0 && p[1] < 0xA0) || (p[0] == 0xED && p[1] >= 0xA0)))
        return 0;
    if (nLength == 4 && ((p[0] == 0xF0 && p[1] < 0x90) || (p[0] == 0xF4 && p[1] >= 0x90)))
        return 0;
    return nLength;
}

} // namespace

std::string JsonString(const std::string& strText) {
    std::string strOut = "\"";
    const auto* p = reinterpret_cast<const unsigned char*>(strText.data());
    const size_t nSize = strText.size();
    for (size_t i = 0; i < nSize;) {
        const unsigned char c = p[i];
        if (c == '"' || c == '\\') {
            strOut += '\\';
            strOut += static_cast<char>(c);
            ++i;
            continue;
        }
        const size_t nLength = c < 0x20 || c == 0x7F ? 0 : Utf8Length(p + i, nSize - i);
        if (nLength == 0) {
            char szEscape[8];
            std::snprintf(szEscape, sizeof szEscape, "\\u%04x", c);
            strOut += szEscape;
            ++i;
            continue;
        }
        strOut.append(strText, i, nLength);
        i += nLength;
    }
    return strOut + "\"";
}

// Columns a character takes: the wide East Asian ranges two, the rest one (the half-width
// katakana of the Japanese texts among them).
static size_t ColumnsOf(char32_t c) {
    const bool bWide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
                       (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
                       (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
                       (c >= 0xFFE0 && c <= 0xFFE6);
    return bWide ? 2 : 1;
}

std::string FitToColumns(const std::string& strLine, size_t nColumns) {
    if (nColumns == 0)
        return strLine;
    size_t nUsed = 0;
    for (size_t i = 0; i < strLine.size();) {
        const auto c = static_cast<unsigned char>(strLine[i]);
        size_t nLength = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : 4;
        nLength = std::min(nLength, strLine.size() - i);
        char32_t code = nLength == 1 ? c : c & (0x3F >> (nLength - 1));
        for (size_t k = 1; k < nLength; ++k)
            code = (code << 6) | (static_cast<unsigned char>(strLine[i + k]) & 0x3F);
        nUsed += ColumnsOf(code);
        if (nUsed >= nColumns)
            return strLine.substr(0, i);
        i += nLength;
    }
    return strLine;
}
