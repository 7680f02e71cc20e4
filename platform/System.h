#pragma once
// What the program asks of the operating system beyond its ports and files: where it was started
// from, what its console is, and the language its user reads.
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

// The program's arguments after its name, in UTF-8: Windows hands main() its arguments in the
// ANSI code page, which loses a file name in another script, so they are taken from the wide
// command line there.
std::vector<std::string> GetProgramArguments(int argc, char** argv);

// The value of an environment variable in UTF-8, false when it is not set. Windows keeps the
// environment in UTF-16 and hands getenv() its ANSI code page, which loses a folder named in
// another script.
bool GetEnvironmentText(const char* pszName, std::string& strValue);

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

// A reader of the output that went away (`| head`) makes the program's writes fail, which its
// output handles, instead of ending the program (POSIX: SIGPIPE ignored; Windows does so anyway).
void IgnoreClosedOutput();

// The output behind a stream as a descriptor of the program's own, so that a writer thread left
// behind never writes to a descriptor the program has closed and reused: -1 when the stream has
// none (a memory stream).
int DuplicateOutput(std::FILE* pStream);
// Writes nCount bytes to such a descriptor, waiting as long as the reader makes it: false when the
// output went away (a closed pipe, a terminal gone).
bool WriteOutput(int nFd, const char* pData, size_t nCount);
void CloseOutput(int nFd);

// Whether the stream is a terminal (a console window on Windows).
bool IsTerminal(std::FILE* pStream);
// The terminal's width in columns, 0 when the stream is no terminal or will not say.
int GetTerminalColumns(std::FILE* pStream);

// The language the user has chosen for the system's own texts, as an ISO 639 code ("ja",
// "en"), "" where the system keeps none apart from the locale variables (POSIX).
std::string GetSystemUiLanguage();

// Sleeps at least nMicroseconds. Paces a single byte's wire time (1.04 ms at 9600 baud), which
// the standard library's sleep on Windows rounds down to whole milliseconds, returning at once.
void SleepAtLeastMicroseconds(int64_t nMicroseconds);

// The local calendar time of a Unix time, for names and stamps a person reads.
std::tm LocalTimeOf(int64_t nUnixSeconds);
