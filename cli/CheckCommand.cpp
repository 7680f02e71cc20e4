#include "cli/CliCommands.h"

#include <algorithm>
#include <cstdio>
#include <thread>

#include "cli/CliOperators.h"
#include "device/DeviceCheck.h"
#include "device/OpenFailure.h"
#include "device/VerdictText.h"
#include "frontend/WizardState.h"
#include "platform/Clock.h"

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
            // What the search went over: COM1 to the highest port listed, COM4 at least.
            strShown = ParsePortName(outcome.m_strPort, found)
                           ? found.m_strShown
                           : "COM1-COM" + std::to_string(std::max(outcome.m_nSearchedUpTo, 4));
        }
        const std::string strReplyLine =
            Text(kIdsCliCheckLine,
                 {strShown + ":", Printable(outcome.m_strReply),
                  outcome.m_strModel.empty() ? "-" : Printable(outcome.m_strModel),
                  outcome.m_strVersion.empty() ? "-" : Printable(outcome.m_strVersion),
                  strPackageVersion}) +
            "  ";
        const std::string strWrongPort =
            strShown + ": " +
            LoadString(GetVerdictText(ECheckVerdict::PortFailed).m_nIdsSentence, m_eLanguage) + " ";
        int nCode = kExitNoMachine;
        std::string strLine;
        std::string strReason;
        const CVerdictText& verdict = GetVerdictText(outcome.m_eVerdict);
        const char* pszResult = verdict.m_pszResult;
        switch (outcome.m_eVerdict) {
        case ECheckVerdict::UpgradeNeeded:
            nCode = kExitOk;
            strLine = strReplyLine + Text(kIdsCliUpgradeNeeded);
            break;
        case ECheckVerdict::Unnecessary:
        case ECheckVerdict::WrongModel:
            nCode = kExitFailed;
            strLine = strReplyLine + LoadString(verdict.m_nIdsSentence, m_eLanguage);
            break;
        case ECheckVerdict::UnusableReply:
        case ECheckVerdict::NoReply:
            strLine = strReplyLine + LoadString(verdict.m_nIdsSentence, m_eLanguage);
            break;
        case ECheckVerdict::PortFailed:
            strReason = OneLine(
                outcome.m_folderError
                    ? DescribeUnreadableFolder(outcome.m_strFolder, outcome.m_folderError.value(),
                                               m_eLanguage)
                    : DescribeOpenFailure(outcome.m_strPort, outcome.m_portError, m_eLanguage));
            strLine = strWrongPort + strReason;
            break;
        case ECheckVerdict::NothingFound:
            strReason = Text(kIdsCliNothingFound);
            strLine = strWrongPort + strReason;
            break;
        case ECheckVerdict::Cancelled:
            strLine = strShown + ": " + Text(kIdsCliCancelled);
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
