#pragma once
// The machine's own answer after an upgrade. The transfer proves only that the package left the
// port; once the operator has set the jumpers back and switched the machine on again, its reply to
// "F;" names the firmware it really runs. Nothing is asked while its loader may still be taking
// the package or writing its flash.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "serial/SerialPort.h"

class IOperator;

// The first question goes out no sooner than this after the transfer ended, the next ones this
// long after an unanswered one.
constexpr int kRestartFirstQuestionMs = 10000;
constexpr int kRestartQuestionGapMs = 2000;
constexpr int64_t kRestartDefaultLimitMs = 600000;

enum class ERestartVerdict {
    Confirmed,    // a model of the table, at the package's version
    OtherVersion, // a model of the table at another version: the package is not what runs
    WrongModel,   // a usable answer naming a model outside the table
    NoAnswer,     // no usable answer within the limit
    Cancelled,    // the caller's cancel was seen between two questions
};

struct CRestartOptions {
    int64_t m_nLimitMs = kRestartDefaultLimitMs; // counted from the transfer's end; 0: no limit
    int m_nFirstQuestionMs = kRestartFirstQuestionMs;
    int m_nQuestionGapMs = kRestartQuestionGapMs;
    std::function<bool()> m_fnCancelled;
};

struct CRestartOutcome {
    ERestartVerdict m_eVerdict = ERestartVerdict::NoAnswer;
    std::string m_strReply; // the answer that decided; else the last bytes that came, if any
    std::string m_strModel;
    std::string m_strVersion;
    // Milliseconds after the transfer's end when the deciding answer came, or when it gave up.
    int64_t m_nAfterMs = 0;
    int m_nQuestions = 0;
    // The last question found the port closed to it (unplugged, busy); m_portError says why.
    bool m_bPortFailed = false;
    CPortError m_portError;
};

// Asks the machine on strPort as the check does, from options.m_nFirstQuestionMs after
// nTransferEndMs (the clock in force) until a usable answer or the limit, and decides whether it
// runs packageVersion. The questions and answers go to the operator's wire trace.
CRestartOutcome ConfirmRestart(const std::string& strPort, IOperator& op,
                               std::string_view packageVersion, int64_t nTransferEndMs,
                               const CRestartOptions& options = {});
