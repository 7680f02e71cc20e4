#include "cli/CliCommands.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <iterator>

#include "platform/System.h"
#include "ports/NetSerialDevice.h"
#include "ports/PortMap.h"

bool ParsePortName(const std::string& strName, CPortName& port) {
    if (!strName.empty() && strName[0] == '/') {
        port = {strName, strName};
        return true;
    }
    // A port on a serial device server is shown as it was named.
    std::string strHost;
    uint16_t nPort = 0;
    if (ParseNetworkPortName(strName, strHost, nPort)) {
        port = {strName, strName};
        return true;
    }
    const int nCom = ParseComNumber(strName);
    if (nCom == 0)
        return false;
    port.m_strShown = "COM" + std::to_string(nCom);
    port.m_strOpen = port.m_strShown + ":";
    return true;
}

bool ParseSeconds(const std::string& strText, double& fSeconds) {
    if (strText.empty())
        return false;
    char* pEnd = nullptr;
    errno = 0;
    const double f = std::strtod(strText.c_str(), &pEnd);
    // A limit beyond a day is no limit a person means; it would overflow the milliseconds.
    if (errno != 0 || *pEnd != '\0' || !std::isfinite(f) || f < 0 || f > 86400)
        return false;
    fSeconds = f;
    return true;
}

int CCli::Usage(const std::string& strProblem) {
    Error(strProblem);
    m_writer.Write(EStream::Err, Text(kIdsCliTryHelp) + "\n");
    return kExitUsage;
}

bool CCli::Parse(const std::vector<std::string>& args, CCommandLine& line,
                 std::string& strProblem) {
    line.m_strCommand = args[0];
    static const char* const s_commands[] = {"ports",  "check", "upgrade",  "inspect",
                                             "--help", "-h",    "--version"};
    if (std::find_if(std::begin(s_commands), std::end(s_commands), [&](const char* psz) {
            return line.m_strCommand == psz;
        }) == std::end(s_commands)) {
        strProblem = Text(kIdsCliUnknownArgument, {line.m_strCommand});
        return false;
    }
    const bool bCheck = line.m_strCommand == "check";
    const bool bUpgrade = line.m_strCommand == "upgrade";
    const bool bPorts = line.m_strCommand == "ports";
    for (size_t i = 1; i < args.size(); ++i) {
        std::string strArg = args[i];
        std::optional<std::string> value;
        const size_t nEquals = strArg.find('=');
        if (strArg.rfind("--", 0) == 0 && nEquals != std::string::npos) {
            value = strArg.substr(nEquals + 1);
            strArg.resize(nEquals);
        }
        auto takeValue = [&](std::string& strValue) {
            if (!value && i + 1 < args.size())
                value = args[++i];
            if (!value) {
                strProblem = Text(kIdsCliMissingValue, {strArg});
                return false;
            }
            strValue = *value;
            return true;
        };
        if (strArg == "--help" || strArg == "-h") {
            line.m_strCommand = "--help";
            return true;
        }
        if ((bCheck || bUpgrade) && strArg == "--port") {
            std::string strName;
            if (!takeValue(strName))
                return false;
            CPortName port;
            if (!ParsePortName(strName, port)) {
                strProblem = Text(kIdsCliBadPortName, {strName});
                return false;
            }
            line.m_ports.push_back(port);
        } else if ((bCheck || bUpgrade) && strArg == "--trace") {
            if (!takeValue(line.m_strTraceDir))
                return false;
        } else if (bUpgrade && strArg == "--package") {
            if (!takeValue(line.m_strPackage))
                return false;
        } else if (bUpgrade && strArg == "--timeout") {
            if (!takeValue(line.m_strTimeout))
                return false;
            if (!ParseSeconds(line.m_strTimeout, line.m_fTimeout)) {
                strProblem = Text(kIdsCliBadTimeout, {line.m_strTimeout});
                return false;
            }
        } else if (bUpgrade && strArg == "--confirm" && !value) {
            line.m_bConfirm = true;
        } else if (bUpgrade && strArg == "--confirm-timeout") {
            if (!takeValue(line.m_strConfirmTimeout))
                return false;
            if (!ParseSeconds(line.m_strConfirmTimeout, line.m_fConfirmTimeout)) {
                strProblem = Text(kIdsCliBadTimeout, {line.m_strConfirmTimeout});
                return false;
            }
        } else if (bUpgrade && (strArg == "--yes" || strArg == "-y") && !value) {
            line.m_bYes = true;
        } else if ((bUpgrade || bCheck || bPorts) && strArg == "--json" && !value) {
            line.m_bJson = true;
        } else if (line.m_strCommand == "inspect" && line.m_strFile.empty() &&
                   (strArg.empty() || strArg[0] != '-' || strArg == "-")) {
            line.m_strFile = args[i];
        } else {
            strProblem = Text(kIdsCliUnknownArgument, {args[i]});
            return false;
        }
    }
    // A limit for an answer nobody waits for is a slip, not a wish to be ignored.
    if (!line.m_strConfirmTimeout.empty() && !line.m_bConfirm) {
        strProblem = Text(kIdsCliNeedsConfirm, {"--confirm-timeout"});
        return false;
    }
    if (bUpgrade && line.m_ports.empty()) {
        strProblem = Text(kIdsCliNoPort);
        return false;
    }
    // The window has no command line, so the variable is how both programs are asked for a trace.
    std::string strTraceDir;
    if ((bCheck || bUpgrade) && line.m_strTraceDir.empty() &&
        GetEnvironmentText("VERSIONUP_TRACE", strTraceDir))
        line.m_strTraceDir = strTraceDir;
    if (line.m_strCommand == "inspect" && line.m_strFile.empty()) {
        strProblem = Text(kIdsCliMissingValue, {"inspect"});
        return false;
    }
    // Two names of one device would make the second run fail as busy half-way into the first;
    // two spellings of one server port would even have both runs talk to it at once.
    for (size_t i = 0; i < line.m_ports.size(); ++i) {
        const std::string strDevice =
            NormalNetworkPortName(ResolvePortDevice(line.m_ports[i].m_strOpen));
        for (size_t j = 0; j < i; ++j) {
            if (line.m_ports[j].m_strOpen == line.m_ports[i].m_strOpen ||
                (!strDevice.empty() &&
                 IsSameDevice(NormalNetworkPortName(ResolvePortDevice(line.m_ports[j].m_strOpen)),
                              strDevice))) {
                strProblem = Text(kIdsCliSamePortTwice,
                                  {line.m_ports[j].m_strShown, line.m_ports[i].m_strShown});
                return false;
            }
        }
    }
    return true;
}
