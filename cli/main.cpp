// versionup-cli: see cli/Cli.h and versionup-cli --help.
#include "cli/Cli.h"
#include "platform/System.h"

int main(int argc, char** argv) {
    // The runs on the machines go on to their end whoever stops reading the output.
    IgnoreClosedOutput();
    UseUtf8Console();
    CCliStreams streams;
    streams.m_bOutIsTerminal = IsTerminal(stdout);
    streams.m_bInIsTerminal = IsTerminal(stdin);
    return RunCli(GetProgramArguments(argc, argv), streams);
}
