#include "cli/CliCommands.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <thread>

#include "cli/CliOperators.h"
#include "cli/ProgressBoard.h"
#include "device/OpenFailure.h"
#include "device/RestartCheck.h"
#include "platform/Clock.h"
#include "resources/PackageStrings.h"
#include "ufw/PackageCheck.h"
#include "ufw/PackageText.h"

namespace {

// The version a machine must answer with once it runs the package: the wizard's own for the
// built-in package, the last word of a chosen package's header text ("TVK35/50 NRP7/70  V260").
std::string VersionOfPackage(const std::vector<uint8_t>* pPackage) {
    if (!pPackage)
        return "V" + LoadString(kIdsPackageVersion);
    std::string strText = PackageHeaderText(pPackage->data(), pPackage->size());
    while (!strText.empty() && strText.back() == ' ')
        strText.pop_back();
    return strText.substr(strText.find_last_of(' ') + 1);
}

std::string Seconds(int64_t nMs) {
    char sz[32];
    std::snprintf(sz, sizeof sz, "%.1f", double(nMs) / 1000);
    return sz;
}

// The port's record of the answer, worded for the operator and the script.
CConfirmResult DescribeRestart(const CPortName& port, const CRestartOutcome& outcome,
                               const std::string& strPackage, ELanguage eLanguage) {
    CConfirmResult result;
    result.m_strReply = outcome.m_strReply;
    result.m_strModel = outcome.m_strModel;
    result.m_strVersion = outcome.m_strVersion;
    result.m_strPackage = strPackage;
    result.m_fSeconds = double(outcome.m_nAfterMs) / 1000;
    result.m_nQuestions = outcome.m_nQuestions;
    const std::string strLabel = port.m_strShown + ":";
    const std::string strSeconds = Seconds(outcome.m_nAfterMs);
    switch (outcome.m_eVerdict) {
    case ERestartVerdict::Confirmed:
        result.m_pszResult = "confirmed";
        result.m_bConfirmed = true;
        result.m_strLine = FormatText(
            kIdsCliConfirmed, eLanguage,
            {strLabel, Printable(outcome.m_strModel), Printable(outcome.m_strVersion), strSeconds});
        break;
    case ERestartVerdict::OtherVersion:
        result.m_pszResult = "other-version";
        result.m_strLine = FormatText(kIdsCliOtherVersion, eLanguage,
                                      {strLabel, Printable(outcome.m_strModel),
                                       Printable(outcome.m_strVersion), strPackage, strSeconds});
        break;
    case ERestartVerdict::WrongModel:
        result.m_pszResult = "wrong-model";
        result.m_strLine = FormatText(kIdsCliConfirmWrongModel, eLanguage,
                                      {strLabel, LoadString(kIdsWrongModel, eLanguage),
                                       Printable(outcome.m_strReply), strSeconds});
        break;
    case ERestartVerdict::NoAnswer:
        result.m_pszResult = "no-answer";
        result.m_strLine = FormatText(kIdsCliNoRestartAnswer, eLanguage, {strLabel, strSeconds});
        // A port that would not even open says why: an adapter left unplugged, another program.
        if (outcome.m_bPortFailed)
            result.m_strLine +=
                " " + OneLine(DescribeOpenFailure(port.m_strOpen, outcome.m_portError, eLanguage));
        break;
    case ERestartVerdict::Cancelled:
        result.m_pszResult = "cancelled";
        result.m_strLine = strLabel + " " + LoadString(kIdsCliCancelled, eLanguage);
        break;
    }
    return result;
}

} // namespace

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
    const std::string strExpected = VersionOfPackage(pPackage);
    if (line.m_bConfirm && strExpected.empty()) {
        Error(Text(kIdsCliNoPackageVersion, {line.m_strPackage}));
        return kExitUsage;
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

    CRestartOptions restart;
    restart.m_nLimitMs = line.m_fConfirmTimeout > 0
                             ? std::max<int64_t>(1, std::llround(line.m_fConfirmTimeout * 1000))
                             : 0;
    restart.m_fnCancelled = &CInterruptGuard::IsInterrupted;

    std::vector<int> results(line.m_ports.size(), 0);
    std::vector<int> confirmed(line.m_ports.size(), 0);
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
            // A device server that cannot tell whether its line delivered everything leaves the
            // machine's own answer as the only proof, which is what --confirm asks for.
            const bool bHandedToServer =
                !results[i] && outcome.m_eFault == ETransferFault::Unconfirmed;
            const EPortResult eResult = results[i]         ? EPortResult::Ok
                                        : bHandedToServer ? EPortResult::HandedOver
                                        : outcome.m_eFault == ETransferFault::Cancelled
                                            ? EPortResult::Cancelled
                                            : EPortResult::Failed;
            const int64_t nTransferEndMs = GetClock().GetMilliseconds();
            board.OnDone(i, eResult, DescribeFailure(line.m_ports[i], outcome, line));
            if (!line.m_bConfirm || !(results[i] || bHandedToServer))
                return;
            board.OnRestartDue(
                i, Text(kIdsCliRestartNow,
                        {shown[i] + ":", OneLine(Text(kIdsUnplugAdapter)), Text(kIdsUnplugJ1J2),
                         Text(kIdsPlugJ9J10), OneLine(Text(kIdsPlugAdapter))}));
            const CRestartOutcome answer =
                ConfirmRestart(line.m_ports[i].m_strOpen, op, strExpected, nTransferEndMs, restart);
            CConfirmResult result =
                DescribeRestart(line.m_ports[i], answer, strExpected, m_eLanguage);
            if (!line.m_strTraceDir.empty())
                result.m_strTrace = TraceFilePath(line.m_strTraceDir, shown[i], nStartSeconds);
            confirmed[i] = result.m_bConfirmed ? 1 : 0;
            if (bHandedToServer && result.m_bConfirmed)
                results[i] = 1;
            board.OnConfirmed(i, result);
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    board.Close();
    WriteTraces(line.m_strTraceDir, shown, traces, nStartSeconds);

    const int nOk = static_cast<int>(std::count(results.begin(), results.end(), 1));
    const int nConfirmed = static_cast<int>(std::count(confirmed.begin(), confirmed.end(), 1));
    const int nPorts = static_cast<int>(results.size());
    if (!line.m_bJson && line.m_bConfirm)
        Print(Text(kIdsCliConfirmSummary,
                   {std::to_string(nOk), std::to_string(nPorts), std::to_string(nConfirmed)}) +
              "\n");
    else if (!line.m_bJson)
        Print(Text(kIdsCliSummary, {std::to_string(nOk), std::to_string(nPorts)}) + "\n");
    const bool bAllDone = nOk == nPorts && (!line.m_bConfirm || nConfirmed == nPorts);
    return ExitAfterSignals(bAllDone ? kExitOk : kExitFailed);
}
