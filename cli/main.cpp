// versionup-cli: see cli/Cli.h and versionup-cli --help.
#include <unistd.h>

#include <csignal>

#include "cli/Cli.h"

int main(int argc, char** argv) {
    // A reader that went away (`| head`) makes writes fail, which the output handles; the runs
    // on the machines go on to their end.
    std::signal(SIGPIPE, SIG_IGN);
    CCliStreams streams;
    streams.m_bOutIsTerminal = isatty(STDOUT_FILENO) == 1;
    streams.m_bInIsTerminal = isatty(STDIN_FILENO) == 1;
    return RunCli(std::vector<std::string>(argv + 1, argv + argc), streams);
}
