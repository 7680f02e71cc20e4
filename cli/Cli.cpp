#include "cli/Cli.h"

#include "cli/CliCommands.h"
#include "frontend/AppVersion.h"
#include "ufw/RunInspect.h"

int CCli::Run(const std::vector<std::string>& args) {
    CCommandLine line;
    std::string strProblem;
    if (args.empty()) {
        m_writer.Write(EStream::Err, Text(kIdsCliUsageHere));
        return kExitUsage;
    }
    if (!Parse(args, line, strProblem))
        return Usage(strProblem);
    if (line.m_strCommand == "--help" || line.m_strCommand == "-h") {
        Print(Text(kIdsCliUsageHere));
        return kExitOk;
    }
    if (line.m_strCommand == "--version") {
        Print(std::string("versionup-cli ") + GetAppVersion() + "\n");
        return kExitOk;
    }
    if (line.m_strCommand == "ports")
        return Ports(line);
    if (line.m_strCommand == "check")
        return Check(line);
    if (line.m_strCommand == "inspect")
        return Inspect(line);
    return Upgrade(line);
}

int CCli::Inspect(const CCommandLine& line) {
    const std::string& strPath = line.m_strFile;
    // Its exit status is ours: kExitOk, kExitFailed (malformed), kExitUsage (unreadable).
    // Through the writer like every other text: a terminal nobody reads must not hold the
    // program, and nothing may cut into what the writer is printing.
    const CInspectRun run = InspectFile(strPath, "versionup-cli");
    if (!run.m_strOut.empty())
        m_writer.Write(EStream::Out, run.m_strOut);
    if (!run.m_strErr.empty())
        m_writer.Write(EStream::Err, run.m_strErr);
    if (run.m_readError) {
        Error(run.m_readError == std::errc::file_too_large
                  ? Text(kIdsCliPackageTooLarge, {strPath})
                  : Text(kIdsCliPackageUnreadable, {strPath, run.m_readError.message()}));
    }
    return run.m_nExit;
}

int RunCli(const std::vector<std::string>& args, const CCliStreams& streams) {
    // The writer is finished when cli goes: after the runs have ended and every port is closed.
    CCli cli(streams);
    return cli.Run(args);
}
