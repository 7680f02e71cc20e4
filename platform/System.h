#pragma once
// What the program asks of the operating system beyond its ports and files: where it was started
// from, what its console is, and the language its user reads.
#include <cstdio>
#include <string>

// The full path of the running program, "" when the system will not say.
std::string GetProgramPath();
// The folder separator of program paths.
constexpr char kPathSeparator =
#ifdef _WIN32
    '\\';
#else
    '/';
#endif

// Whether the stream is a terminal (a console window on Windows).
bool IsTerminal(std::FILE* pStream);
// The terminal's width in columns, 0 when the stream is no terminal or will not say.
int GetTerminalColumns(std::FILE* pStream);

// The language the user has chosen for the system's own texts, as an ISO 639 code ("ja",
// "en"), "" where the system keeps none apart from the locale variables (POSIX).
std::string GetSystemUiLanguage();
