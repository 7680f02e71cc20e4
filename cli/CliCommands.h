#pragma once
// The commands of versionup-cli, one member of CCli each, and the command line they share. Each
// command lives in a file of its own; CCli::Run (Cli.cpp) picks one.
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "cli/CliText.h"
#include "cli/OutputWriter.h"
#include "platform/Interrupt.h"
#include "resources/StringIds.h"
#include "resources/Strings.h"
#include "serial/WireTrace.h"
#include "transfer/Transfer.h"

constexpr double kDefaultTimeoutSeconds = 10;
constexpr double kDefaultConfirmTimeoutSeconds = 600;

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
    // upgrade --confirm: each machine's own answer after its restart.
    bool m_bConfirm = false;
    double m_fConfirmTimeout = kDefaultConfirmTimeoutSeconds;
    std::string m_strConfirmTimeout; // as given; empty: not given
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

bool ParsePortName(const std::string& strName, CPortName& port);
bool ParseSeconds(const std::string& strText, double& fSeconds);
