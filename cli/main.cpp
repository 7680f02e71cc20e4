// versionup-cli: see cli/Cli.h and versionup-cli --help.
#include "cli/Cli.h"
#include "platform/System.h"

int main(int argc, char** argv) {
    UseUtf8Console();
    CCliStreams streams;
    streams.m_bOutIsTerminal = IsTerminal(stdout);
    streams.m_bInIsTerminal = IsTerminal(stdin);
    return RunCli(GetProgramArguments(argc, argv), streams);
}
