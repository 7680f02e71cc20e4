#include "cli/Cli.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <thread>

#include "cli/CliText.h"
#include "cli/ProgressBoard.h"
#include "device/DeviceCheck.h"
#include "device/OpenFailure.h"
#include "device/Reply.h"
#include "frontend/AppVersion.h"
#include "frontend/Operator.h"
#include "frontend/WizardState.h"
#include "platform/Interrupt.h"
#include "platform/PortMap.h"
#include "platform/SerialDevice.h"
#include "resources/StringIds.h"
#include "transfer/PackageCheck.h"
#include "transfer/PackageFile.h"
#include "transfer/PackageInspector.h"
#include "transfer/Transfer.h"

namespace {

constexpr int kPortCount = 4;
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
};

class CCli {
public:
    explicit CCli(const CCliStreams& streams) : m_io(streams), m_eLanguage(GetUserLanguage()) {}

    int Run(const std::vector<std::string>& args);

private:
    int Usage(const std::string& strProblem);
    bool Parse(const std::vector<std::string>& args, CCommandLine& line, std::string& strProblem);
    int Ports();
    int Check(const CCommandLine& line);
    int Upgrade(const CCommandLine& line);
    int Inspect(const CCommandLine& line);
    bool Confirm(const CCommandLine& line);
    std::string Text(unsigned nId, std::initializer_list<std::string> args = {}) const {
        return FormatText(nId, m_eLanguage, args);
    }
    std::string DescribeFailure(const CPortName& port, const CTransferOutcome& outcome,
                                const CCommandLine& line) const;
    void Error(const std::string& strText) const {
        std::fprintf(m_io.m_pErr, "versionup-cli: %s\n", strText.c_str());
        std::fflush(m_io.m_pErr);
    }

    const CCliStreams& m_io;
    const ELanguage m_eLanguage;
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

    std::vector<CMessage> m_messages;
};

// One port's operator during an upgrade: its progress goes to its own slot of the board.
class CUpgradeOperator : public CCheckOperator {
public:
    CUpgradeOperator(CProgressBoard& board, size_t nIndex) : m_board(board), m_nIndex(nIndex) {}
    // The transfer shows the wait cursor for its last pause only.
    void BeginWaitCursor() override { m_board.OnFinishing(m_nIndex); }
    std::unique_ptr<IProgressSink> CreateProgress() override {
        return m_board.CreateSink(m_nIndex);
    }

private:
    CProgressBoard& m_board;
    const size_t m_nIndex;
};

int CCli::Usage(const std::string& strProblem) {
    Error(strProblem);
    std::fprintf(m_io.m_pErr, "%s\n", Text(kIdsCliTryHelp).c_str());
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
        } else if (bUpgrade && strArg == "--json" && !value) {
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
    if (line.m_strCommand == "inspect" && line.m_strFile.empty()) {
        strProblem = Text(kIdsCliMissingValue, {"inspect"});
        return false;
    }
    // Two names of one device would make the second run fail as busy half-way into the first.
    for (size_t i = 0; i < line.m_ports.size(); ++i) {
        const std::string strDevice = ResolvePortDevice(line.m_ports[i].m_strOpen);
        for (size_t j = 0; j < i; ++j) {
            if (line.m_ports[j].m_strOpen == line.m_ports[i].m_strOpen ||
                (!strDevice.empty() && ResolvePortDevice(line.m_ports[j].m_strOpen) == strDevice)) {
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
        std::fputs(Text(kIdsCliUsage).c_str(), m_io.m_pErr);
        return kExitUsage;
    }
    if (!Parse(args, line, strProblem))
        return Usage(strProblem);
    if (line.m_strCommand == "--help" || line.m_strCommand == "-h") {
        std::fputs(Text(kIdsCliUsage).c_str(), m_io.m_pOut);
        return kExitOk;
    }
    if (line.m_strCommand == "--version") {
        std::fprintf(m_io.m_pOut, "versionup-cli %s\n", GetAppVersion());
        return kExitOk;
    }
    if (line.m_strCommand == "ports")
        return Ports();
    if (line.m_strCommand == "check")
        return Check(line);
    if (line.m_strCommand == "inspect")
        return Inspect(line);
    return Upgrade(line);
}

int CCli::Ports() {
    const CPortMap map = CPortMap::System();
    for (int n = 1; n <= kPortCount; ++n) {
        const std::string strDevice = map.Resolve("COM" + std::to_string(n) + ":");
        std::string strState;
        if (strDevice.empty()) {
            strState = Text(kIdsCliNoDevice);
        } else {
            const std::unique_ptr<ISerialDevice> pDevice = MakeSerialDevice();
            const int nErrno = pDevice->Open(strDevice);
            pDevice->Close();
            switch (nErrno) {
            case 0:
                strState = Text(kIdsCliPresent);
                break;
            case ENOENT:
            case ENODEV:
            case ENXIO:
            case ENOTDIR:
            case ELOOP:
                strState = Text(kIdsCliAbsent);
                break;
            case EBUSY:
                strState = Text(kIdsCliBusy);
                break;
            case EACCES:
            case EPERM:
                strState = Text(kIdsCliDenied);
                break;
            case ENOTTY:
                strState = Text(kIdsCliNotSerial);
                break;
            default:
                strState = Text(kIdsCliOpenError, {std::strerror(nErrno)});
            }
        }
        std::fprintf(m_io.m_pOut, "COM%d  %-28s  %s\n", n,
                     strDevice.empty() ? "-" : strDevice.c_str(), strState.c_str());
    }
    return kExitOk;
}

int CCli::Check(const CCommandLine& line) {
    CInterruptGuard guard;
    const std::string strPackageVersion = "V" + LoadString(kIdsPackageVersion, m_eLanguage);
    // No --port: one discovery over COM1 to COM4, as the wizard's first check does.
    std::vector<CPortName> ports = line.m_ports;
    if (ports.empty())
        ports.push_back({});

    struct CResult {
        bool m_bNeeded = false;
        CWizardState m_state;
        std::vector<CMessage> m_messages;
    };
    std::vector<CResult> results(ports.size());
    std::vector<std::thread> threads;
    for (size_t i = 0; i < ports.size(); ++i) {
        threads.emplace_back([&, i] {
            CResult& result = results[i];
            CCheckOperator op;
            result.m_state.m_strPort = ports[i].m_strOpen;
            result.m_bNeeded = CheckFirmwareVersion(result.m_state, op, strPackageVersion.c_str());
            result.m_messages = std::move(op.m_messages);
        });
    }
    for (std::thread& thread : threads)
        thread.join();

    int nExit = kExitOk;
    for (size_t i = 0; i < ports.size(); ++i) {
        const CResult& result = results[i];
        std::string strShown = ports[i].m_strShown;
        if (strShown.empty()) {
            CPortName found;
            strShown =
                ParsePortName(result.m_state.m_strPort, found) ? found.m_strShown : "COM1-COM4";
        }
        const unsigned nVerdict = result.m_messages.empty() ? 0 : result.m_messages.back().m_nId;
        int nCode = kExitNoMachine;
        std::string strLine;
        if (result.m_bNeeded || nVerdict == kIdsUpgradeUnnecessary || nVerdict == kIdsWrongModel ||
            nVerdict == kIdsTransmissionFailed) {
            const CReplySplit split = SplitReply(result.m_state.m_strStatus);
            strLine = Text(kIdsCliCheckLine, {strShown + ":", Printable(result.m_state.m_strStatus),
                                              split.m_bUsable ? Printable(split.m_strModel) : "-",
                                              split.m_bUsable ? Printable(split.m_strVersion) : "-",
                                              strPackageVersion});
            if (result.m_bNeeded) {
                nCode = kExitOk;
                strLine += "  " + Text(kIdsCliUpgradeNeeded);
            } else {
                nCode = nVerdict == kIdsTransmissionFailed ? kExitNoMachine : kExitFailed;
                strLine += "  " + result.m_messages.back().m_strText;
            }
        } else {
            // The port would not open, or discovery found nothing.
            std::string strDetail =
                result.m_messages.empty() ? std::string() : result.m_messages.back().m_strDetail;
            if (ports[i].m_strOpen.empty() && result.m_state.m_strPort.empty())
                strDetail = Text(kIdsCliNothingFound);
            strLine =
                strShown + ": " + LoadString(kIdsWrongPort, m_eLanguage) + " " + OneLine(strDetail);
        }
        std::fprintf(m_io.m_pOut, "%s\n", strLine.c_str());
        nExit = std::max(nExit, nCode);
    }
    std::fflush(m_io.m_pOut);
    if (CInterruptGuard::IsInterrupted()) {
        Error(Text(kIdsCliInterrupted));
        return kExitInterrupted;
    }
    return nExit;
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
    std::fprintf(m_io.m_pErr, "%s ", Text(kIdsCliConfirm, {strPorts}).c_str());
    std::fflush(m_io.m_pErr);
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
        strStep = Text(kIdsCliStepLoader, {std::to_string(outcome.m_nIndex)});
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
                        chosen.m_fault.m_strWhat}));
            return kExitUsage;
        }
    }
    if (!Confirm(line))
        return kExitUsage;

    CInterruptGuard guard;
    std::vector<std::string> shown;
    for (const CPortName& port : line.m_ports)
        shown.push_back(port.m_strShown);
    const EOutput eOutput = line.m_bJson            ? EOutput::Json
                            : m_io.m_bOutIsTerminal ? EOutput::Terminal
                                                    : EOutput::Plain;
    CProgressBoard board(m_io.m_pOut, eOutput, m_eLanguage, shown);
    CTransferOptions options;
    options.m_nReplyLimitMs = static_cast<int>(std::lround(line.m_fTimeout * 1000));

    std::vector<int> results(line.m_ports.size(), 0);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < line.m_ports.size(); ++i) {
        threads.emplace_back([&, i] {
            CUpgradeOperator op(board, i);
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

    const int nOk = static_cast<int>(std::count(results.begin(), results.end(), 1));
    if (!line.m_bJson) {
        std::fprintf(
            m_io.m_pOut, "%s\n",
            Text(kIdsCliSummary, {std::to_string(nOk), std::to_string(results.size())}).c_str());
        std::fflush(m_io.m_pOut);
    }
    if (CInterruptGuard::IsInterrupted()) {
        Error(Text(kIdsCliInterrupted));
        return kExitInterrupted;
    }
    return nOk == static_cast<int>(results.size()) ? kExitOk : kExitFailed;
}

int CCli::Inspect(const CCommandLine& line) {
    const std::string& strPath = line.m_strFile;
    std::vector<uint8_t> bytes;
    if (const int nError = ReadFileToInspect(strPath, bytes)) {
        Error(nError == EFBIG ? Text(kIdsCliPackageTooLarge, {strPath})
                              : Text(kIdsCliPackageUnreadable, {strPath, std::strerror(nError)}));
        return kExitUsage;
    }
    const CPackageReport report = InspectPackage(bytes);
    std::fprintf(m_io.m_pOut, "file         %s\n%s", strPath.c_str(),
                 FormatPackageReport(report).c_str());
    std::fflush(m_io.m_pOut);
    if (const CPackageFault* pFault = report.FirstFault()) {
        Error(strPath + ": malformed at offset " + std::to_string(pFault->m_nOffset) + ": " +
              pFault->m_strWhat);
        return kExitFailed;
    }
    return kExitOk;
}

} // namespace

int RunCli(const std::vector<std::string>& args, const CCliStreams& streams) {
    CCli cli(streams);
    return cli.Run(args);
}
