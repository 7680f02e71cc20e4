#include "cli/ProgressBoard.h"

#include <algorithm>
#include <cinttypes>

#include "cli/CliText.h"
#include "platform/Clock.h"
#include "platform/Interrupt.h"
#include "platform/System.h"
#include "resources/StringIds.h"

namespace {

constexpr auto kRedrawEvery = std::chrono::milliseconds(100);
constexpr int64_t kJsonProgressEveryMs = 1000;
constexpr int64_t kLoaderWeight = 8;
// What is still to come after the loader, for the time left: the package at 38400 baud (ten bits
// a byte) and the protocol's pauses.
constexpr double kPackageBytesPerSecond = 38400.0 / 10;
constexpr double kPauseSeconds = 2.0;

class CBoardSink : public IProgressSink {
public:
    CBoardSink(CProgressBoard& board, size_t nIndex) : m_board(board), m_nIndex(nIndex) {}
    int Create() override {
        m_board.OnCreate(m_nIndex);
        return 1;
    }
    void SetMessage(const std::string&) override {}
    void SetRange(int32_t, int32_t nUpper) override { m_board.OnRange(m_nIndex, nUpper); }
    int SetPos(int32_t nPos) override {
        m_board.OnPos(m_nIndex, nPos);
        return 0;
    }
    int CheckCancel() override { return CInterruptGuard::IsInterrupted() ? 1 : 0; }

private:
    CProgressBoard& m_board;
    const size_t m_nIndex;
};

// Seconds since nSinceMs on the program's clock.
double SecondsSince(int64_t nSinceMs) {
    return double(GetClock().GetMilliseconds() - nSinceMs) / 1000;
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

// Columns a character takes: the wide East Asian ranges two, the rest one (the half-width
// katakana of the Japanese texts among them).
size_t ColumnsOf(char32_t c) {
    const bool bWide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
                       (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
                       (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
                       (c >= 0xFFE0 && c <= 0xFFE6);
    return bWide ? 2 : 1;
}

// strLine cut so that it takes fewer than nColumns columns (0: as it is).
std::string FitToColumns(const std::string& strLine, size_t nColumns) {
    if (nColumns == 0)
        return strLine;
    size_t nUsed = 0;
    for (size_t i = 0; i < strLine.size();) {
        const auto c = static_cast<unsigned char>(strLine[i]);
        size_t nLength = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : 4;
        nLength = std::min(nLength, strLine.size() - i);
        char32_t code = nLength == 1 ? c : c & (0x3F >> (nLength - 1));
        for (size_t k = 1; k < nLength; ++k)
            code = (code << 6) | (static_cast<unsigned char>(strLine[i + k]) & 0x3F);
        nUsed += ColumnsOf(code);
        if (nUsed >= nColumns)
            return strLine.substr(0, i);
        i += nLength;
    }
    return strLine;
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

CProgressBoard::CProgressBoard(FILE* pOut, EOutput eOutput, ELanguage eLanguage,
                               const std::vector<std::string>& ports)
    : m_pOut(pOut), m_eOutput(eOutput), m_eLanguage(eLanguage) {
    const int64_t nNowMs = GetClock().GetMilliseconds();
    for (const std::string& strPort : ports) {
        CSlot slot;
        slot.m_strPort = strPort;
        slot.m_nStartMs = slot.m_nPhaseStartMs = nNowMs;
        m_slots.push_back(std::move(slot));
    }
    if (m_eOutput == EOutput::Terminal)
        m_redraw = std::thread(&CProgressBoard::RedrawLoop, this);
}

CProgressBoard::~CProgressBoard() {
    Close();
}

std::unique_ptr<IProgressSink> CProgressBoard::CreateSink(size_t nIndex) {
    return std::make_unique<CBoardSink>(*this, nIndex);
}

void CProgressBoard::Close() {
    {
        std::lock_guard lock(m_mutex);
        if (m_bStop)
            return;
        m_bStop = true;
    }
    m_cvStop.notify_all();
    if (m_redraw.joinable())
        m_redraw.join();
    if (m_eOutput == EOutput::Terminal) {
        std::lock_guard lock(m_mutex);
        Draw(true);
    }
}

void CProgressBoard::RedrawLoop() {
    std::unique_lock lock(m_mutex);
    while (!m_bStop) {
        if (m_bDirty)
            Draw(false);
        m_cvStop.wait_for(lock, kRedrawEvery);
    }
}

// The cursor goes back up over the lines drawn last time and each line is written anew. While
// the lines are live none may wrap, or going up would land on the wrong line; the last drawing
// stays and shows each line whole.
void CProgressBoard::Draw(bool bLast) {
    const size_t nColumns = bLast ? 0 : TerminalColumns(m_pOut);
    std::string strOut;
    if (m_bDrawn)
        strOut += "\033[" + std::to_string(m_slots.size()) + "A";
    for (const CSlot& slot : m_slots)
        strOut += "\r\033[K" + FitToColumns(LiveLine(slot), nColumns) + "\n";
    std::fputs(strOut.c_str(), m_pOut);
    std::fflush(m_pOut);
    m_bDrawn = true;
    m_bDirty = false;
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
        return Label(slot.m_strPort) + " " + LoadString(kIdsTransmissionFailed, m_eLanguage) + " " +
               slot.m_strReason;
    case EPortResult::Cancelled:
        break;
    }
    return Label(slot.m_strPort) + " " + LoadString(kIdsCliCancelled, m_eLanguage);
}

std::string CProgressBoard::LiveLine(const CSlot& slot) const {
    if (slot.m_bDone)
        return ResultLine(slot);
    if (slot.m_ePhase != EPhase::Loader && slot.m_ePhase != EPhase::Package)
        return Label(slot.m_strPort) + " " + PhaseName(slot.m_ePhase);
    const double fElapsed = SecondsSince(slot.m_nPhaseStartMs);
    const double fRate = fElapsed > 0 ? double(slot.m_nBytes) / fElapsed : 0;
    double fLeft = fRate > 0 ? double(slot.m_nTotal - slot.m_nBytes) / fRate : -1;
    if (slot.m_ePhase == EPhase::Loader && fLeft >= 0)
        fLeft += double(slot.m_nPackage) / kPackageBytesPerSecond + kPauseSeconds;
    const int64_t nAll = slot.m_nPackage + slot.m_nLoaderUnits;
    const int64_t nPercent = nAll > 0 ? slot.m_nPos * 100 / nAll : 0;
    return FormatText(kIdsCliProgressLine, m_eLanguage,
                      {Label(slot.m_strPort), PhaseName(slot.m_ePhase),
                       std::to_string(slot.m_nBytes), std::to_string(slot.m_nTotal),
                       std::to_string(nPercent), std::to_string(static_cast<int64_t>(fRate)),
                       MinutesSeconds(fLeft)});
}

void CProgressBoard::WriteJson(const CSlot& slot, const char* pszEvent) {
    const bool bDone = slot.m_bDone;
    std::string strResult = "null";
    if (bDone) {
        strResult = slot.m_eResult == EPortResult::Ok       ? "\"ok\""
                    : slot.m_eResult == EPortResult::Failed ? "\"failed\""
                                                            : "\"cancelled\"";
    }
    char szSeconds[32];
    std::snprintf(szSeconds, sizeof szSeconds, "%.3f", SecondsSince(slot.m_nStartMs));
    std::string strLine = std::string("{\"event\":\"") + pszEvent +
                          "\",\"port\":" + JsonString(slot.m_strPort) + ",\"phase\":\"" +
                          JsonPhase(static_cast<int>(slot.m_ePhase)) +
                          "\",\"bytes\":" + std::to_string(slot.m_nBytes) +
                          ",\"total\":" + std::to_string(slot.m_nTotal) +
                          ",\"result\":" + strResult + ",\"seconds\":" + szSeconds;
    if (bDone && slot.m_eResult == EPortResult::Failed)
        strLine += ",\"reason\":" + JsonString(slot.m_strReason);
    strLine += "}\n";
    std::fputs(strLine.c_str(), m_pOut);
    std::fflush(m_pOut);
}

void CProgressBoard::EnterPhase(CSlot& slot, EPhase ePhase) {
    slot.m_ePhase = ePhase;
    slot.m_nPhaseStartMs = GetClock().GetMilliseconds();
    m_bDirty = true;
    if (m_eOutput == EOutput::Json) {
        WriteJson(slot, ePhase == EPhase::Open ? "start" : "phase");
    } else if (m_eOutput == EOutput::Plain) {
        std::string strLine = Label(slot.m_strPort) + " " + PhaseName(ePhase);
        if (ePhase == EPhase::Loader || ePhase == EPhase::Package)
            strLine +=
                "  " + FormatText(kIdsCliBytes, m_eLanguage, {std::to_string(slot.m_nTotal)});
        std::fprintf(m_pOut, "%s\n", strLine.c_str());
        std::fflush(m_pOut);
    }
}

void CProgressBoard::OnCreate(size_t nIndex) {
    std::lock_guard lock(m_mutex);
    CSlot& slot = m_slots[nIndex];
    slot.m_nStartMs = GetClock().GetMilliseconds();
    EnterPhase(slot, EPhase::Open);
}

// The first range is the package alone, the second adds eight units for each loader byte: the
// difference gives the loader's length, and the port is open.
void CProgressBoard::OnRange(size_t nIndex, int32_t nUpper) {
    std::lock_guard lock(m_mutex);
    CSlot& slot = m_slots[nIndex];
    if (++slot.m_nRanges == 1) {
        slot.m_nPackage = int64_t(nUpper) + 1;
        return;
    }
    slot.m_nLoaderUnits = int64_t(nUpper) + 1 - slot.m_nPackage;
    EnterPhase(slot, EPhase::Handshake);
}

void CProgressBoard::OnPos(size_t nIndex, int32_t nPos) {
    std::lock_guard lock(m_mutex);
    CSlot& slot = m_slots[nIndex];
    slot.m_nPos = nPos;
    const bool bLoader = nPos < slot.m_nLoaderUnits;
    const EPhase ePhase = bLoader ? EPhase::Loader : EPhase::Package;
    slot.m_nTotal = bLoader ? slot.m_nLoaderUnits / kLoaderWeight : slot.m_nPackage;
    slot.m_nBytes = bLoader ? nPos / kLoaderWeight : nPos - slot.m_nLoaderUnits;
    m_bDirty = true;
    if (slot.m_ePhase != ePhase) {
        // Counted from the phase's first position, so the rate is the phase's own.
        const int64_t nBytes = slot.m_nBytes;
        slot.m_nBytes = 0;
        EnterPhase(slot, ePhase);
        slot.m_nBytes = nBytes;
        slot.m_nLastJsonMs = GetClock().GetMilliseconds();
        return;
    }
    const int64_t nNowMs = GetClock().GetMilliseconds();
    if (m_eOutput == EOutput::Json && nNowMs - slot.m_nLastJsonMs >= kJsonProgressEveryMs) {
        slot.m_nLastJsonMs = nNowMs;
        WriteJson(slot, "progress");
    }
}

void CProgressBoard::OnFinishing(size_t nIndex) {
    std::lock_guard lock(m_mutex);
    EnterPhase(m_slots[nIndex], EPhase::Finish);
}

void CProgressBoard::OnDone(size_t nIndex, EPortResult eResult, const std::string& strReason) {
    std::lock_guard lock(m_mutex);
    CSlot& slot = m_slots[nIndex];
    slot.m_bDone = true;
    slot.m_eResult = eResult;
    slot.m_strReason = strReason;
    m_bDirty = true;
    switch (m_eOutput) {
    case EOutput::Terminal:
        break;
    case EOutput::Json:
        WriteJson(slot, "done");
        break;
    case EOutput::Plain: {
        char szSeconds[32];
        std::snprintf(szSeconds, sizeof szSeconds, " (%.1f s)", SecondsSince(slot.m_nStartMs));
        std::fprintf(m_pOut, "%s%s\n", ResultLine(slot).c_str(), szSeconds);
        std::fflush(m_pOut);
        break;
    }
    }
}
