// versionup-cli: see cli/Cli.h and versionup-cli --help.
#include <unistd.h>

#include "cli/Cli.h"

int main(int argc, char** argv) {
    CCliStreams streams;
    streams.m_bOutIsTerminal = isatty(STDOUT_FILENO) == 1;
    streams.m_bInIsTerminal = isatty(STDIN_FILENO) == 1;
    return RunCli(std::vector<std::string>(argv + 1, argv + argc), streams);
}
