#include "cli/ProgressBoard.h"

#include <optional>

#include "cli/CliText.h"
#include "cli/OutputWriter.h"
#include "platform/Clock.h"
#include "platform/Interrupt.h"
#include "platform/System.h"
#include "resources/StringIds.h"

namespace {

constexpr int kRedrawEveryMs = 100;
constexpr int64_t kJsonProgressEveryMs = 1000;

class CBoardSink : public IProgressSink {
public:
    CBoardSink(CProgressBoard& board, size_t nIndex) : m_board(board), m_nIndex(nIndex) {}
    int Create() override {
        m_board.OnCreate(m_nIndex);
        return 1;
    }
    void SetMessage(const std::string&) override {}
    void SetRange(int32_t, int32_t) override {}
    int SetPos(int32_t) override { return 0; }
    int CheckCancel() override { return CInterruptGuard::IsInterrupted() ? 1 : 0; }
    void OnStepEntered(ETransferStep eStep) override { m_board.OnStepEntered(m_nIndex, eStep); }
    void OnBytesDone(ETransferStep eStep, int64_t nDone, int64_t nTotal) override {
        m_board.OnBytesDone(m_nIndex, eStep, nDone, nTotal);
    }

private:
    CProgressBoard& m_board;
    const size_t m_nIndex;
};

double Seconds(int64_t nMs) {
    return double(nMs) / 1000;
}

std::string MinutesSeconds(double fSeconds) {
    if (!(fSeconds >= 0) || fSeconds > 99 * 60)
        return "--:--";
    const int nSeconds = static_cast<int>(fSeconds + 0.5);
    char sz[16];
    std::snprintf(sz, sizeof sz, "%d:%02d", nSeconds / 60, nSeconds % 60);
    return sz;
}

size_t TerminalColumns(FILE* pOut) {
    const int nColumns = GetTerminalColumns(pOut);
    return nColumns > 0 ? static_cast<size_t>(nColumns) : 80;
}

const char* JsonPhase(int nPhase) {
    static const char* const s_names[] = {"open", "handshake", "loader", "package", "finish"};
    return s_names[nPhase];
}

// "COM1:" or "/dev/ttyUSB0:", the way the wizard writes a port at the head of a line.
std::string Label(const std::string& strPort) {
    return strPort + ":";
}

} // namespace

CProgressBoard::CProgressBoard(COutputWriter& writer, FILE* pTerminal, EOutput eOutput,
                               ELanguage eLanguage, const std::vector<std::string>& ports)
    : m_writer(writer), m_pTerminal(pTerminal), m_eOutput(eOutput), m_eLanguage(eLanguage) {
    const int64_t nNowMs = GetClock().GetMilliseconds();
    for (const std::string& strPort : ports) {
        CSlot slot;
        slot.m_strPort = strPort;
        slot.m_nStartMs = slot.m_nPhaseStartMs = nNowMs;
        m_slots.push_back(std::move(slot));
    }
    m_writer.SetSource([this] { return TakeText(); },
                       m_eOutput == EOutput::Terminal ? kRedrawEveryMs : 0);
}

CProgressBoard::~CProgressBoard() {
    Close();
}

std::unique_ptr<IProgressSink> CProgressBoard::CreateSink(size_t nIndex) {
    return std::make_unique<CBoardSink>(*this, nIndex);
}

// The last text is taken here, on the caller's thread, and queued behind whatever the writer
// has not yet written; the source is gone before anything else can be queued.
void CProgressBoard::Close() {
    std::string strLast;
    {
        std::lock_guard lock(m_mutex);
        if (m_bClosed)
            return;
        strLast = m_eOutput == EOutput::Terminal ? Draw(true) : FormatRecords();
        m_bClosed = true;
    }
    m_writer.SetSource(nullptr, 0);
    m_writer.Write(EStream::Out, std::move(strLast));
}

std::string CProgressBoard::TakeText() {
    std::lock_guard lock(m_mutex);
    if (m_bClosed)
        return {};
    if (m_eOutput == EOutput::Terminal) {
        const int64_t nSecond = GetClock().GetMilliseconds() / 1000;
        for (const CSlot& slot : m_slots) {
            if (slot.m_eConfirm == CSlot::EConfirm::Waiting && nSecond != m_nDrawnSecond)
                m_bDirty = true;
        }
        if (!m_bDirty)
            return {};
        m_nDrawnSecond = nSecond;
        return Draw(false);
    }
    return FormatRecords();
}

std::string CProgressBoard::FormatRecords() {
    std::string strText;
    for (const CRecord& record : m_records)
        strText += Format(record);
    m_records.clear();
    return strText;
}

// The cursor goes back up over the lines drawn last time and each line is written anew. While
// the lines are live none may wrap, or going up would land on the wrong line; the last drawing
// stays and shows each line whole.
std::string CProgressBoard::Draw(bool bLast) {
    const size_t nColumns = bLast ? 0 : TerminalColumns(m_pTerminal);
    std::string strOut;
    if (m_bDrawn)
        strOut += "\033[" + std::to_string(m_slots.size()) + "A";
    // Printed whole where the live lines stood; they are drawn again beneath, and the cursor
    // never goes back above them.
    for (const std::string& strNote : m_notes)
        strOut += "\r\033[K" + strNote + "\n";
    m_notes.clear();
    for (const CSlot& slot : m_slots)
        strOut += "\r\033[K" + FitToColumns(LiveLine(slot), nColumns) + "\n";
    m_bDrawn = true;
    m_bDirty = false;
    return strOut;
}

std::string CProgressBoard::PhaseName(EPhase ePhase) const {
    switch (ePhase) {
    case EPhase::Open:
        return LoadString(kIdsCliPhaseOpen, m_eLanguage);
    case EPhase::Handshake:
        return LoadString(kIdsCliPhaseHandshake, m_eLanguage);
    case EPhase::Loader:
        return LoadString(kIdsCliPhaseLoader, m_eLanguage);
    case EPhase::Package:
        return LoadString(kIdsCliPhasePackage, m_eLanguage);
    case EPhase::Finish:
        return LoadString(kIdsCliPhaseFinish, m_eLanguage);
    }
    return {};
}

std::string CProgressBoard::ResultLine(const CSlot& slot) const {
    switch (slot.m_eResult) {
    case EPortResult::Ok:
        return Label(slot.m_strPort) + " " + OneLine(LoadString(kIdsTransferDone, m_eLanguage));
    case EPortResult::Failed:
        // A machine that failed may be left in its loader at the package's speed: like the
        // wizard's Retry step, the line says how to make it ready for the next run.
        return Label(slot.m_strPort) + " " + LoadString(kIdsTransmissionFailed, m_eLanguage) + " " +
               slot.m_strReason + " " +
               FormatText(kIdsCliBeforeRetry, m_eLanguage,
                          {OneLine(LoadString(kIdsUnplugAdapter, m_eLanguage)),
                           OneLine(LoadString(kIdsPlugAdapter, m_eLanguage))});
    case EPortResult::HandedOver:
        return Label(slot.m_strPort) + " " + slot.m_strReason;
    case EPortResult::Cancelled:
        break;
    }
    return Label(slot.m_strPort) + " " + LoadString(kIdsCliCancelled, m_eLanguage);
}

// The phase's own rate and time left: what comes after it is the transfer's business.
std::string CProgressBoard::LiveLine(const CSlot& slot) const {
    if (slot.m_eConfirm == CSlot::EConfirm::Done)
        return slot.m_confirm.m_strLine;
    if (slot.m_eConfirm == CSlot::EConfirm::Waiting)
        return FormatText(
            kIdsCliRestartWaiting, m_eLanguage,
            {Label(slot.m_strPort),
             MinutesSeconds(Seconds(GetClock().GetMilliseconds() - slot.m_nTransferEndMs))});
    if (slot.m_bDone)
        return ResultLine(slot);
    if (slot.m_ePhase != EPhase::Loader && slot.m_ePhase != EPhase::Package)
        return Label(slot.m_strPort) + " " + PhaseName(slot.m_ePhase);
    const double fElapsed = Seconds(GetClock().GetMilliseconds() - slot.m_nPhaseStartMs);
    const double fRate = fElapsed > 0 ? double(slot.m_nBytes) / fElapsed : 0;
    const double fLeft = fRate > 0 ? double(slot.m_nTotal - slot.m_nBytes) / fRate : -1;
    const int64_t nPercent = slot.m_nTotal > 0 ? slot.m_nBytes * 100 / slot.m_nTotal : 0;
    return FormatText(kIdsCliProgressLine, m_eLanguage,
                      {Label(slot.m_strPort), PhaseName(slot.m_ePhase),
                       std::to_string(slot.m_nBytes), std::to_string(slot.m_nTotal),
                       std::to_string(nPercent), std::to_string(static_cast<int64_t>(fRate)),
                       MinutesSeconds(fLeft)});
}

std::string CProgressBoard::FormatConfirm(const CRecord& record) const {
    const CSlot& slot = record.m_slot;
    const bool bRestart = record.m_pszEvent == std::string("restart");
    if (m_eOutput == EOutput::Plain)
        return (bRestart ? slot.m_strRestartText : slot.m_confirm.m_strLine) + "\n";
    const std::string strHead = std::string("{\"event\":\"") + record.m_pszEvent +
                                "\",\"port\":" + JsonString(slot.m_strPort);
    if (bRestart)
        return strHead + ",\"text\":" + JsonString(slot.m_strRestartText) + "}\n";
    const CConfirmResult& confirm = slot.m_confirm;
    auto orNull = [](const std::string& strText) {
        return strText.empty() ? std::string("null") : JsonString(strText);
    };
    char szSeconds[32];
    std::snprintf(szSeconds, sizeof szSeconds, "%.3f", confirm.m_fSeconds);
    std::string strLine =
        strHead + ",\"result\":\"" + confirm.m_pszResult +
        "\",\"reply\":" + orNull(confirm.m_strReply) + ",\"model\":" + orNull(confirm.m_strModel) +
        ",\"version\":" + orNull(confirm.m_strVersion) +
        ",\"package\":" + JsonString(confirm.m_strPackage) + ",\"seconds\":" + szSeconds +
        ",\"questions\":" + std::to_string(confirm.m_nQuestions);
    if (!confirm.m_bConfirmed)
        strLine += ",\"reason\":" + JsonString(confirm.m_strLine);
    if (!confirm.m_strTrace.empty())
        strLine += ",\"trace\":" + JsonString(confirm.m_strTrace);
    return strLine + "}\n";
}

std::string CProgressBoard::Format(const CRecord& record) const {
    const CSlot& slot = record.m_slot;
    if (record.m_pszEvent == std::string("restart") || record.m_pszEvent == std::string("confirm"))
        return FormatConfirm(record);
    const double fSeconds = Seconds(record.m_nAtMs - slot.m_nStartMs);
    if (m_eOutput == EOutput::Plain) {
        if (slot.m_bDone) {
            char szSeconds[32];
            std::snprintf(szSeconds, sizeof szSeconds, " (%.1f s)", fSeconds);
            return ResultLine(slot) + szSeconds + "\n";
        }
        std::string strLine = Label(slot.m_strPort) + " " + PhaseName(slot.m_ePhase);
        if (slot.m_ePhase == EPhase::Loader || slot.m_ePhase == EPhase::Package)
            strLine +=
                "  " + FormatText(kIdsCliBytes, m_eLanguage, {std::to_string(slot.m_nTotal)});
        return strLine + "\n";
    }
    std::string strResult = "null";
    if (slot.m_bDone) {
        strResult = slot.m_eResult == EPortResult::Ok           ? "\"ok\""
                    : slot.m_eResult == EPortResult::Failed     ? "\"failed\""
                    : slot.m_eResult == EPortResult::HandedOver ? "\"handed-over\""
                                                                : "\"cancelled\"";
    }
    char szSeconds[32];
    std::snprintf(szSeconds, sizeof szSeconds, "%.3f", fSeconds);
    std::string strLine = std::string("{\"event\":\"") + record.m_pszEvent +
                          "\",\"port\":" + JsonString(slot.m_strPort) + ",\"phase\":\"" +
                          JsonPhase(static_cast<int>(slot.m_ePhase)) +
                          "\",\"bytes\":" + std::to_string(slot.m_nBytes) +
                          ",\"total\":" + std::to_string(slot.m_nTotal) +
                          ",\"result\":" + strResult + ",\"seconds\":" + szSeconds;
    if (slot.m_bDone &&
        (slot.m_eResult == EPortResult::Failed || slot.m_eResult == EPortResult::HandedOver))
        strLine += ",\"reason\":" + JsonString(slot.m_strReason);
    return strLine + "}\n";
}

void CProgressBoard::Note(const CSlot& slot, const char* pszEvent) {
    m_bDirty = true;
    if (m_eOutput != EOutput::Terminal)
        m_records.push_back({pszEvent, slot, GetClock().GetMilliseconds()});
}

void CProgressBoard::EnterPhase(CSlot& slot, EPhase ePhase) {
    slot.m_ePhase = ePhase;
    slot.m_nPhaseStartMs = GetClock().GetMilliseconds();
    Note(slot, ePhase == EPhase::Open ? "start" : "phase");
}

void CProgressBoard::OnCreate(size_t nIndex) {
    {
        std::lock_guard lock(m_mutex);
        CSlot& slot = m_slots[nIndex];
        slot.m_nStartMs = GetClock().GetMilliseconds();
        EnterPhase(slot, EPhase::Open);
    }
    m_writer.Wake();
}

// The loader's and the package's phases begin with their first count, which brings their size.
void CProgressBoard::OnStepEntered(size_t nIndex, ETransferStep eStep) {
    std::optional<EPhase> phase;
    switch (eStep) {
    case ETransferStep::Sync:
        phase = EPhase::Handshake;
        break;
    case ETransferStep::Finish:
        phase = EPhase::Finish;
        break;
    default:
        break;
    }
    if (!phase)
        return;
    {
        std::lock_guard lock(m_mutex);
        EnterPhase(m_slots[nIndex], *phase);
    }
    m_writer.Wake();
}

void CProgressBoard::OnBytesDone(size_t nIndex, ETransferStep eStep, int64_t nDone,
                                 int64_t nTotal) {
    const EPhase ePhase = eStep == ETransferStep::Loader ? EPhase::Loader : EPhase::Package;
    bool bNews = false;
    {
        std::lock_guard lock(m_mutex);
        CSlot& slot = m_slots[nIndex];
        slot.m_nBytes = nDone;
        slot.m_nTotal = nTotal;
        m_bDirty = true;
        const int64_t nNowMs = GetClock().GetMilliseconds();
        if (slot.m_ePhase != ePhase) {
            EnterPhase(slot, ePhase);
            slot.m_nLastJsonMs = nNowMs;
            bNews = true;
        } else if (m_eOutput == EOutput::Json &&
                   nNowMs - slot.m_nLastJsonMs >= kJsonProgressEveryMs) {
            slot.m_nLastJsonMs = nNowMs;
            Note(slot, "progress");
            bNews = true;
        }
    }
    // A count alone waits for the next redraw.
    if (bNews)
        m_writer.Wake();
}

void CProgressBoard::OnRestartDue(size_t nIndex, const std::string& strText) {
    {
        std::lock_guard lock(m_mutex);
        CSlot& slot = m_slots[nIndex];
        slot.m_eConfirm = CSlot::EConfirm::Waiting;
        slot.m_nTransferEndMs = GetClock().GetMilliseconds();
        slot.m_strRestartText = strText;
        // The transfer's result stays on the screen above the live lines, which go on to the wait.
        if (m_eOutput == EOutput::Terminal) {
            m_notes.push_back(ResultLine(slot));
            m_notes.push_back(strText);
        }
        Note(slot, "restart");
    }
    m_writer.Wake();
}

void CProgressBoard::OnConfirmed(size_t nIndex, const CConfirmResult& result) {
    {
        std::lock_guard lock(m_mutex);
        CSlot& slot = m_slots[nIndex];
        slot.m_eConfirm = CSlot::EConfirm::Done;
        slot.m_confirm = result;
        Note(slot, "confirm");
    }
    m_writer.Wake();
}

void CProgressBoard::OnDone(size_t nIndex, EPortResult eResult, const std::string& strReason) {
    {
        std::lock_guard lock(m_mutex);
        CSlot& slot = m_slots[nIndex];
        slot.m_bDone = true;
        slot.m_eResult = eResult;
        slot.m_strReason = strReason;
        Note(slot, "done");
    }
    m_writer.Wake();
}
