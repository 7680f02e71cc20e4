#include "cli/CliCommands.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <thread>

#include "cli/CliOperators.h"
#include "cli/ProgressBoard.h"
#include "platform/Clock.h"
#include "resources/PackageStrings.h"
#include "ufw/PackageCheck.h"

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
