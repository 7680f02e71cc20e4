#include "cli/Cli.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <iterator>
#include <memory>
#include <optional>
#include <thread>

#include "cli/CliText.h"
#include "cli/OutputWriter.h"
#include "cli/ProgressBoard.h"
#include "device/DeviceCheck.h"
#include "device/OpenFailure.h"
#include "device/PortList.h"
#include "frontend/AppVersion.h"
#include "frontend/Operator.h"
#include "frontend/WizardState.h"
#include "platform/Clock.h"
#include "platform/Interrupt.h"
#include "platform/PortMap.h"
#include "platform/SerialDevice.h"
#include "platform/System.h"
#include "resources/StringIds.h"
#include "ufw/PackageCheck.h"
#include "ufw/RunInspect.h"
#include "serial/WireTrace.h"
#include "transfer/PackageSource.h"
#include "transfer/Transfer.h"

namespace {

constexpr double kDefaultTimeoutSeconds = 10;

// A port as the command line names it: "COM1".."COM4" for the person, "COM1:" for the core.
struct CPortName {
    std::string m_strShown;
    std::string m_strOpen;
};

struct CCommandLine {
    std::string m_strCommand;
    std::vector<CPortName> m_ports;
    std::string m_strPackage;
    std::string m_strFile; // inspect
    bool m_bYes = false;
    bool m_bJson = false;
    double m_fTimeout = kDefaultTimeoutSeconds;
    std::string m_strTimeout = "10";
    std::string m_strTraceDir; // empty: no trace
};

class CCli {
public:
    explicit CCli(const CCliStreams& streams)
        : m_io(streams), m_eLanguage(GetUserLanguage()), m_writer(streams.m_pOut, streams.m_pErr) {}

    int Run(const std::vector<std::string>& args);

private:
    int Usage(const std::string& strProblem);
    bool Parse(const std::vector<std::string>& args, CCommandLine& line, std::string& strProblem);
    int Ports(const CCommandLine& line);
    int Check(const CCommandLine& line);
    int Upgrade(const CCommandLine& line);
    int Inspect(const CCommandLine& line);
    bool Confirm(const CCommandLine& line);
    std::string Text(unsigned nId, std::initializer_list<std::string> args = {}) const {
        return FormatText(nId, m_eLanguage, args);
    }
    void WriteTraces(const std::string& strDir, const std::vector<std::string>& ports,
                     const std::deque<CWireTrace>& traces, int64_t nStartSeconds);
    std::string DescribeFailure(const CPortName& port, const CTransferOutcome& outcome,
                                const CCommandLine& line) const;
    void Print(const std::string& strText) { m_writer.Write(EStream::Out, strText); }
    void Error(const std::string& strText) {
        m_writer.Write(EStream::Err, "versionup-cli: " + strText + "\n");
    }
    // The exit status of a command that a signal cut short, else nExit.
    int ExitAfterSignals(int nExit) {
        if (!CInterruptGuard::IsInterrupted())
            return nExit;
        Error(Text(kIdsCliInterrupted));
        return CInterruptGuard::IsHangUp() ? kExitHungUp : kExitInterrupted;
    }

    const CCliStreams& m_io;
    const ELanguage m_eLanguage;
    // Set by the commands that talk to machines. It outlives the writer: a second Ctrl-C while
    // the last output waits for its reader still ends the program at once.
    std::optional<CInterruptGuard> m_guard;
    // Every text goes out through it, in every mode.
    COutputWriter m_writer;
};

bool ParsePortName(const std::string& strName, CPortName& port) {
    if (!strName.empty() && strName[0] == '/') {
        port = {strName, strName};
        return true;
    }
    const int nCom = ParseComNumber(strName);
    if (nCom < 1 || nCom > kHighestCommandLinePort)
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

// The reply as it came, with bytes a terminal would act on shown as \xNN.
std::string Printable(const std::string& strReply) {
    std::string strOut;
    for (unsigned char c : strReply) {
        if (c < 0x20 || c == 0x7F || c == '\\') {
            char sz[8];
            std::snprintf(sz, sizeof sz, "\\x%02X", c);
            strOut += sz;
        } else {
            strOut += static_cast<char>(c);
        }
    }
    return strOut;
}

// The check's operator: nobody to ask, so a Retry/Cancel question is answered Cancel and the
// port dialog of discovery is never shown; the message that ends the check is kept.
class CCheckOperator : public IOperator {
public:
    int ShowMessage(const CMessage& message) override {
        m_messages.push_back(message);
        return message.m_eButtons == EButtons::RetryCancel ? kIdCancel : kIdOk;
    }
    void BeginWaitCursor() override {}
    void EndWaitCursor() override {}
    bool RunPortDialog(std::string&) override { return false; }
    bool RunFileOpenDialog(const std::string&, const std::string&, std::string&) override {
        return false;
    }
    std::unique_ptr<IProgressSink> CreateProgress() override { return nullptr; }
    IWireTrace* GetWireTrace() override { return m_pTrace; }

    std::vector<CMessage> m_messages;
    IWireTrace* m_pTrace = nullptr; // this port's own trace, when one was asked for
};

// One port's operator during an upgrade: its progress goes to its own slot of the board.
class CUpgradeOperator : public CCheckOperator {
public:
    CUpgradeOperator(CProgressBoard& board, size_t nIndex) : m_board(board), m_nIndex(nIndex) {}
    std::unique_ptr<IProgressSink> CreateProgress() override {
        return m_board.CreateSink(m_nIndex);
    }

private:
    CProgressBoard& m_board;
    const size_t m_nIndex;
};

// One file a port, written once every run has ended so that no machine waits for a disk.
void CCli::WriteTraces(const std::string& strDir, const std::vector<std::string>& ports,
                       const std::deque<CWireTrace>& traces, int64_t nStartSeconds) {
    if (strDir.empty())
        return;
    for (size_t i = 0; i < traces.size(); ++i) {
        if (traces[i].IsEmpty())
            continue;
        const std::string strPath = TraceFilePath(strDir, ports[i], nStartSeconds);
        if (const int nErrno = traces[i].WriteFile(strPath))
            Error(Text(kIdsCliTraceNotWritten, {strPath, std::strerror(nErrno)}));
    }
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
    // Two names of one device would make the second run fail as busy half-way into the first.
    for (size_t i = 0; i < line.m_ports.size(); ++i) {
        const std::string strDevice = ResolvePortDevice(line.m_ports[i].m_strOpen);
        for (size_t j = 0; j < i; ++j) {
            if (line.m_ports[j].m_strOpen == line.m_ports[i].m_strOpen ||
                (!strDevice.empty() &&
                 IsSameDevice(ResolvePortDevice(line.m_ports[j].m_strOpen), strDevice))) {
                strProblem = Text(kIdsCliSamePortTwice,
                                  {line.m_ports[j].m_strShown, line.m_ports[i].m_strShown});
                return false;
            }
        }
    }
    return true;
}

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

int CCli::Ports(const CCommandLine& line) {
    const CPortMap map = CPortMap::System();
    for (const std::string& strName : ListPortNames()) {
        const int n = ParseComNumber(strName);
        const std::string strDevice = map.Resolve(strName);
        CPortError error{0, strDevice};
        if (!strDevice.empty()) {
            const std::unique_ptr<ISerialDevice> pDevice = MakeSerialDevice();
            error.m_nErrno = pDevice->Open(strDevice);
            pDevice->Close();
        }
        const bool bPresent = !strDevice.empty() && error.m_nErrno == 0;
        const std::string strState =
            bPresent ? Text(kIdsCliPresent) : DescribeOpenState(error, m_eLanguage);
        if (line.m_bJson) {
            // The state as a word a script can match, the sentence beside it as "reason".
            static const char* const s_states[] = {"no-device", "absent",     "busy",  "denied",
                                                   "unreadable", "not-serial", "error"};
            static_assert(std::size(s_states) == static_cast<size_t>(EOpenCause::Other) + 1);
            const char* pszState =
                bPresent ? "present"
                         : s_states[static_cast<int>(
                               ClassifyOpenFailure(error, CPortMap::DefaultPortsDir()))];
            Print("{\"event\":\"port\",\"port\":\"COM" + std::to_string(n) +
                  "\",\"device\":" + (strDevice.empty() ? "null" : JsonString(strDevice)) +
                  ",\"state\":\"" + pszState + "\"" +
                  (bPresent ? "" : ",\"reason\":" + JsonString(strState)) + "}\n");
            continue;
        }
        char szLine[64];
        std::snprintf(szLine, sizeof szLine, "COM%d  %-28s  ", n,
                      strDevice.empty() ? "-" : strDevice.c_str());
        Print(szLine + strState + "\n");
    }
    return kExitOk;
}

int CCli::Check(const CCommandLine& line) {
    m_guard.emplace();
    const std::string strPackageVersion = "V" + LoadString(kIdsPackageVersion, m_eLanguage);
    // No --port: one discovery, as the wizard's first check does.
    std::vector<CPortName> ports = line.m_ports;
    if (ports.empty())
        ports.push_back({});

    std::vector<CCheckOutcome> outcomes(ports.size());
    std::deque<CWireTrace> traces(ports.size());
    const int64_t nStartSeconds = GetClock().GetCalendarSeconds();
    std::vector<std::thread> threads;
    for (size_t i = 0; i < ports.size(); ++i) {
        threads.emplace_back([&, i] {
            CCheckOperator op;
            op.m_pTrace = line.m_strTraceDir.empty() ? nullptr : &traces[i];
            CWizardState state;
            state.m_strPort = ports[i].m_strOpen;
            outcomes[i] = RunDeviceCheck(state, op, strPackageVersion.c_str(),
                                         &CInterruptGuard::IsInterrupted);
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    std::vector<std::string> tracedPorts;
    for (const CCheckOutcome& outcome : outcomes)
        tracedPorts.push_back(outcome.m_strPort);
    WriteTraces(line.m_strTraceDir, tracedPorts, traces, nStartSeconds);

    int nExit = kExitOk;
    for (size_t i = 0; i < ports.size(); ++i) {
        const CCheckOutcome& outcome = outcomes[i];
        std::string strShown = ports[i].m_strShown;
        if (strShown.empty()) {
            CPortName found;
            strShown = ParsePortName(outcome.m_strPort, found) ? found.m_strShown : "COM1-COM4";
        }
        const std::string strReplyLine =
            Text(kIdsCliCheckLine,
                 {strShown + ":", Printable(outcome.m_strReply),
                  outcome.m_strModel.empty() ? "-" : Printable(outcome.m_strModel),
                  outcome.m_strVersion.empty() ? "-" : Printable(outcome.m_strVersion),
                  strPackageVersion}) +
            "  ";
        const std::string strWrongPort =
            strShown + ": " + LoadString(kIdsWrongPort, m_eLanguage) + " ";
        int nCode = kExitNoMachine;
        std::string strLine;
        const char* pszResult = "";
        std::string strReason;
        switch (outcome.m_eVerdict) {
        case ECheckVerdict::UpgradeNeeded:
            nCode = kExitOk;
            strLine = strReplyLine + Text(kIdsCliUpgradeNeeded);
            pszResult = "needed";
            break;
        case ECheckVerdict::Unnecessary:
            nCode = kExitFailed;
            strLine = strReplyLine + LoadString(kIdsUpgradeUnnecessary, m_eLanguage);
            pszResult = "unnecessary";
            break;
        case ECheckVerdict::WrongModel:
            nCode = kExitFailed;
            strLine = strReplyLine + LoadString(kIdsWrongModel, m_eLanguage);
            pszResult = "wrong-model";
            break;
        case ECheckVerdict::UnusableReply:
        case ECheckVerdict::NoReply:
            strLine = strReplyLine + LoadString(kIdsTransmissionFailed, m_eLanguage);
            pszResult =
                outcome.m_eVerdict == ECheckVerdict::NoReply ? "no-reply" : "unusable-reply";
            break;
        case ECheckVerdict::PortFailed:
            strReason =
                OneLine(DescribeOpenFailure(outcome.m_strPort, outcome.m_portError, m_eLanguage));
            strLine = strWrongPort + strReason;
            pszResult = "port-failed";
            break;
        case ECheckVerdict::NothingFound:
            strReason = Text(kIdsCliNothingFound);
            strLine = strWrongPort + strReason;
            pszResult = "nothing-found";
            break;
        case ECheckVerdict::Cancelled:
            strLine = strShown + ": " + Text(kIdsCliCancelled);
            pszResult = "cancelled";
            break;
        }
        if (line.m_bJson) {
            // The keys of upgrade --json where they apply; null where the check learnt nothing.
            auto orNull = [](const std::string& strText) {
                return strText.empty() ? std::string("null") : JsonString(strText);
            };
            const bool bAnswered =
                !outcome.m_strReply.empty() || outcome.m_eVerdict == ECheckVerdict::NoReply;
            strLine = "{\"event\":\"check\",\"port\":" + JsonString(strShown) + ",\"result\":\"" +
                      pszResult +
                      "\",\"reply\":" + (bAnswered ? JsonString(outcome.m_strReply) : "null") +
                      ",\"model\":" + orNull(outcome.m_strModel) +
                      ",\"version\":" + orNull(outcome.m_strVersion) +
                      ",\"package\":" + JsonString(strPackageVersion) + ",\"needed\":" +
                      (outcome.m_eVerdict == ECheckVerdict::UpgradeNeeded ? "true" : "false");
            if (!strReason.empty())
                strLine += ",\"reason\":" + JsonString(strReason);
            strLine += "}";
        }
        Print(strLine + "\n");
        nExit = std::max(nExit, nCode);
    }
    return ExitAfterSignals(nExit);
}

bool CCli::Confirm(const CCommandLine& line) {
    if (line.m_bYes)
        return true;
    if (!m_io.m_bInIsTerminal) {
        Error(Text(kIdsCliNoTerminal));
        return false;
    }
    std::string strPorts;
    for (const CPortName& port : line.m_ports)
        strPorts += (strPorts.empty() ? "" : ", ") + port.m_strShown;
    m_writer.Write(EStream::Err, Text(kIdsCliConfirm, {strPorts}) + " ");
    m_writer.Flush();
    char szAnswer[64] = {};
    const bool bRead = std::fgets(szAnswer, sizeof szAnswer, m_io.m_pIn) != nullptr;
    std::string strAnswer = bRead ? szAnswer : "";
    while (!strAnswer.empty() &&
           (strAnswer.back() == '\n' || strAnswer.back() == '\r' || strAnswer.back() == ' '))
        strAnswer.pop_back();
    if (strAnswer == "y" || strAnswer == "Y")
        return true;
    Error(Text(kIdsCliNotConfirmed));
    return false;
}

std::string CCli::DescribeFailure(const CPortName& port, const CTransferOutcome& outcome,
                                  const CCommandLine& line) const {
    std::string strStep;
    switch (outcome.m_eStep) {
    case ETransferStep::Open:
    case ETransferStep::OpenPackage:
        strStep = LoadString(kIdsCliPhaseOpen, m_eLanguage);
        break;
    case ETransferStep::Sync:
        strStep = Text(kIdsCliStepSync);
        break;
    case ETransferStep::BitRate:
        strStep = Text(kIdsCliStepBitRate);
        break;
    case ETransferStep::Length:
        strStep = Text(kIdsCliStepLength);
        break;
    case ETransferStep::Loader:
        // Counted from 1, as an operator counts bytes.
        strStep = Text(kIdsCliStepLoader, {std::to_string(outcome.m_nIndex + 1)});
        break;
    case ETransferStep::LoaderEnd:
        strStep = Text(kIdsCliStepLoaderEnd);
        break;
    case ETransferStep::Package:
    case ETransferStep::Finish:
        strStep = Text(kIdsCliStepPackage);
        break;
    }
    auto hex = [](int nByte) {
        char sz[8];
        std::snprintf(sz, sizeof sz, "%02X", nByte & 0xFF);
        return std::string(sz);
    };
    switch (outcome.m_eFault) {
    case ETransferFault::None:
    case ETransferFault::Cancelled:
        return {};
    case ETransferFault::OpenFailed:
        return OneLine(DescribeOpenFailure(port.m_strOpen, outcome.m_openError, m_eLanguage));
    case ETransferFault::NoLoader:
        return Text(kIdsCliNoLoader);
    case ETransferFault::BadPackage:
        return Text(kIdsCliBadPackage);
    case ETransferFault::WrongReply:
        return Text(kIdsCliWrongReply,
                    {hex(outcome.m_nReceived), hex(outcome.m_nExpected), strStep});
    case ETransferFault::NoReply:
        return Text(kIdsCliNoReply, {line.m_strTimeout, strStep});
    case ETransferFault::HungUp:
        return Text(kIdsCliHungUp, {strStep});
    case ETransferFault::WriteFailed:
        return Text(kIdsCliWriteFailed, {strStep});
    }
    return {};
}

int CCli::Upgrade(const CCommandLine& line) {
    // The chosen package is read and checked once, before anything is asked or opened; every
    // port sends the very bytes that were checked.
    CLoadedPackage chosen;
    const std::vector<uint8_t>* pPackage = nullptr;
    if (!line.m_strPackage.empty()) {
        chosen = LoadCheckedPackage(line.m_strPackage);
        switch (chosen.m_eResult) {
        case EPackageLoad::Ok:
            pPackage = &chosen.m_bytes;
            break;
        case EPackageLoad::FileError:
            Error(Text(kIdsCliPackageUnreadable,
                       {line.m_strPackage, std::strerror(chosen.m_nErrno)}));
            return kExitUsage;
        case EPackageLoad::TooLarge:
            Error(Text(kIdsCliPackageTooLarge, {line.m_strPackage}));
            return kExitUsage;
        case EPackageLoad::Malformed:
            Error(Text(kIdsCliPackageMalformed,
                       {line.m_strPackage, std::to_string(chosen.m_fault.m_nOffset),
                        DescribePackageFault(chosen.m_fault, m_eLanguage)}));
            return kExitUsage;
        }
    }
    if (!Confirm(line))
        return kExitUsage;

    m_guard.emplace();
    std::vector<std::string> shown;
    for (const CPortName& port : line.m_ports)
        shown.push_back(port.m_strShown);
    const EOutput eOutput = line.m_bJson            ? EOutput::Json
                            : m_io.m_bOutIsTerminal ? EOutput::Terminal
                                                    : EOutput::Plain;
    CProgressBoard board(m_writer, m_io.m_pOut, eOutput, m_eLanguage, shown);
    CTransferOptions options;
    // A limit a person gave never rounds down to "no limit".
    options.m_nReplyLimitMs =
        line.m_fTimeout > 0 ? std::max(1, static_cast<int>(std::lround(line.m_fTimeout * 1000)))
                            : 0;

    std::vector<int> results(line.m_ports.size(), 0);
    std::deque<CWireTrace> traces(line.m_ports.size());
    const int64_t nStartSeconds = GetClock().GetCalendarSeconds();
    std::vector<std::thread> threads;
    for (size_t i = 0; i < line.m_ports.size(); ++i) {
        threads.emplace_back([&, i] {
            CUpgradeOperator op(board, i);
            op.m_pTrace = line.m_strTraceDir.empty() ? nullptr : &traces[i];
            CTransferOutcome outcome;
            CTransferOptions portOptions = options;
            portOptions.m_pOutcome = &outcome;
            results[i] =
                TransferFirmwareWithOptions(line.m_ports[i].m_strOpen, pPackage, op, portOptions);
            const EPortResult eResult = results[i] ? EPortResult::Ok
                                        : outcome.m_eFault == ETransferFault::Cancelled
                                            ? EPortResult::Cancelled
                                            : EPortResult::Failed;
            board.OnDone(i, eResult, DescribeFailure(line.m_ports[i], outcome, line));
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    board.Close();
    WriteTraces(line.m_strTraceDir, shown, traces, nStartSeconds);

    const int nOk = static_cast<int>(std::count(results.begin(), results.end(), 1));
    if (!line.m_bJson)
        Print(Text(kIdsCliSummary, {std::to_string(nOk), std::to_string(results.size())}) + "\n");
    return ExitAfterSignals(nOk == static_cast<int>(results.size()) ? kExitOk : kExitFailed);
}

int CCli::Inspect(const CCommandLine& line) {
    const std::string& strPath = line.m_strFile;
    // Its exit status is ours: kExitOk, kExitFailed (malformed), kExitUsage (unreadable).
    const CInspectRun run = RunInspect(strPath, "versionup-cli", m_io.m_pOut, m_io.m_pErr);
    if (run.m_readError) {
        Error(run.m_readError == std::errc::file_too_large
                  ? Text(kIdsCliPackageTooLarge, {strPath})
                  : Text(kIdsCliPackageUnreadable, {strPath, run.m_readError.message()}));
    }
    return run.m_nExit;
}

} // namespace

int RunCli(const std::vector<std::string>& args, const CCliStreams& streams) {
    // The writer is finished when cli goes: after the runs have ended and every port is closed.
    CCli cli(streams);
    return cli.Run(args);
}
