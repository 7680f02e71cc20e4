#pragma once
// Texts of the command line: the string tables' texts with their "%1".."%9" filled in, in the
// language chosen once at start, and the escaping that JSON output needs.
#include <cstddef>
#include <initializer_list>
#include <string>

#include "resources/StringIds.h"
#include "resources/Strings.h"

// The usage text of this system: Windows names every port COMn and has no hang-up signal.
#ifdef _WIN32
constexpr unsigned kIdsCliUsageHere = kIdsCliUsageWindows;
#else
constexpr unsigned kIdsCliUsageHere = kIdsCliUsage;
#endif

// The text of nId in eLanguage with %1..%9 replaced by args in order (FillPlaceholders).
std::string FormatText(unsigned nId, ELanguage eLanguage, std::initializer_list<std::string> args);
// strText as one line: the tables' "\r\n" line breaks become blanks.
std::string OneLine(const std::string& strText);
// A machine's reply as it came, with bytes a terminal would act on shown as \xNN.
std::string Printable(const std::string& strReply);
// strText as a JSON string, quotes included. Bytes that are not valid UTF-8 (a machine's reply
// may hold anything) are written as \u00XX so the line stays valid JSON.
std::string JsonString(const std::string& strText);
// strLine (UTF-8) cut at a character boundary so that it takes fewer than nColumns columns of a
// terminal, wide East Asian characters counting two (0: as it is).
std::string FitToColumns(const std::string& strLine, size_t nColumns);
