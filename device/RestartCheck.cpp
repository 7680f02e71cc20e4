#include "device/RestartCheck.h"

#include <algorithm>

#include "device/DeviceCheck.h"
#include "device/Reply.h"
#include "frontend/Operator.h"
#include "platform/Clock.h"
#include "serial/WireTrace.h"

namespace {

// Pauses are slept in slices so that a cancel ends them soon; they are counted by what was
// slept, not by reading the clock, so a clock that skips pauses skips them whole.
constexpr int kPauseSliceMs = 200;

} // namespace

CRestartOutcome ConfirmRestart(const std::string& strPort, IOperator& op,
                               std::string_view packageVersion, int64_t nTransferEndMs,
                               const CRestartOptions& options) {
    CRestartOutcome outcome;
    IWireTrace* pTrace = op.GetWireTrace();
    auto elapsed = [&] { return GetClock().GetMilliseconds() - nTransferEndMs; };
    auto cancelled = [&] { return options.m_fnCancelled && options.m_fnCancelled(); };
    auto end = [&](ERestartVerdict eVerdict, const std::string& strText) {
        outcome.m_eVerdict = eVerdict;
        outcome.m_nAfterMs = elapsed();
        if (pTrace)
            pTrace->TraceOutcome(strText);
        return outcome;
    };
    // A pause never reaches past the limit, the verdict is due then; but the machine is asked at
    // least once, at the first moment it may be, however short the limit.
    auto pause = [&](int64_t nMs) {
        if (options.m_nLimitMs > 0 && outcome.m_nQuestions > 0)
            nMs = std::min(nMs, options.m_nLimitMs - elapsed());
        for (int64_t nSlept = 0; nSlept < nMs; nSlept += kPauseSliceMs) {
            if (cancelled())
                return;
            GetClock().Sleep(static_cast<int>(std::min<int64_t>(kPauseSliceMs, nMs - nSlept)));
        }
    };

    if (pTrace)
        pTrace->TraceStep("restart check", "expecting " + std::string(packageVersion));
    pause(options.m_nFirstQuestionMs - elapsed());
    for (;;) {
        if (cancelled())
            return end(ERestartVerdict::Cancelled, "restart check cancelled");
        if (options.m_nLimitMs > 0 && outcome.m_nQuestions > 0 && elapsed() >= options.m_nLimitMs)
            return end(ERestartVerdict::NoAnswer, "no answer after the restart");
        ++outcome.m_nQuestions;
        if (pTrace)
            pTrace->TraceStep("version query", "after the restart");
        std::string strReply;
        outcome.m_bPortFailed = !AskVersion(strPort, op, strReply, outcome.m_portError);
        if (!outcome.m_bPortFailed) {
            // Noise of a machine that is powering up is no answer; the last of it is kept for
            // the record of one that never gives a better one.
            if (!strReply.empty())
                outcome.m_strReply = strReply;
            const CReplySplit split = SplitReply(strReply);
            if (split.m_bUsable) {
                outcome.m_strReply = strReply;
                outcome.m_strModel = split.m_strModel;
                outcome.m_strVersion = split.m_strVersion;
                if (FindModel(split.m_strModel) < 0)
                    return end(ERestartVerdict::WrongModel, "wrong model: " + strReply);
                if (split.m_strVersion != packageVersion)
                    return end(ERestartVerdict::OtherVersion, "other version: " + strReply);
                return end(ERestartVerdict::Confirmed, "confirmed: " + strReply);
            }
        }
        pause(options.m_nQuestionGapMs);
    }
}
