#pragma once
// What the program asks of the operating system beyond its ports and files: where it was started
// from, what its console is, and the language its user reads.
#include <cstdio>
#include <string>
#include <vector>

// The program's arguments after its name, in UTF-8: Windows hands main() its arguments in the
// ANSI code page, which loses a file name in another script, so they are taken from the wide
// command line there.
std::vector<std::string> GetProgramArguments(int argc, char** argv);

// The full path of the running program, "" when the system will not say.
std::string GetProgramPath();
// The folder separator of program paths.
constexpr char kPathSeparator =
#ifdef _WIN32
    '\\';
#else
    '/';
#endif

// Lets a console show the program's texts, which are UTF-8 (Windows consoles start in the
// system's ANSI code page; elsewhere nothing to do).
void UseUtf8Console();

// Whether the stream is a terminal (a console window on Windows).
bool IsTerminal(std::FILE* pStream);
// The terminal's width in columns, 0 when the stream is no terminal or will not say.
int GetTerminalColumns(std::FILE* pStream);

// The language the user has chosen for the system's own texts, as an ISO 639 code ("ja",
// "en"), "" where the system keeps none apart from the locale variables (POSIX).
std::string GetSystemUiLanguage();
