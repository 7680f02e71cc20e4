#pragma once
// versionup-cli: the device check and the firmware transfer of the wizard from a terminal or a
// script, on several machines at once, each port on a thread of its own with its own serial
// port object. The wizard window is the other front end of the same core.
#include <cstdio>
#include <string>
#include <vector>

struct CCliStreams {
    FILE* m_pOut = stdout;
    FILE* m_pErr = stderr;
    FILE* m_pIn = stdin;
    bool m_bOutIsTerminal = false; // live progress lines instead of one line a phase
    bool m_bInIsTerminal = false;  // an upgrade may be confirmed by a person
};

// Exit codes.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;    // check: no upgrade needed or wrong model; upgrade: a port failed
constexpr int kExitUsage = 2;     // a wrong command line, an unusable package, no confirmation
constexpr int kExitNoMachine = 3; // check: no answer, an unusable reply, or the port failed
constexpr int kExitHungUp = 129;  // SIGHUP: the terminal went away
constexpr int kExitInterrupted = 130; // Ctrl-C or SIGTERM

// args without the program's own name. Ctrl-C, SIGTERM and SIGHUP are caught while a command
// runs. All output goes through a writer thread of its own; a closed output is no failure of the
// command, and output that stands still for a while at the end is given up.
int RunCli(const std::vector<std::string>& args, const CCliStreams& streams);
