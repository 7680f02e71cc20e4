#pragma once
// What the person or the script running an upgrade sees of every port at once. Each port's run
// reports into a slot of its own through its own progress sink; the board alone writes to the
// output, under its lock, so lines of parallel runs never mix.
//   Terminal: one live line per port, redrawn in place at most ten times a second.
//   Plain:    one line per port and phase, then the result.
//   Json:     one object a line: start, phase, progress (at most once a second a port), done.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "frontend/ProgressSink.h"
#include "resources/Strings.h"

enum class EOutput { Terminal, Plain, Json };

enum class EPortResult { Ok, Failed, Cancelled };

class CProgressBoard {
public:
    CProgressBoard(FILE* pOut, EOutput eOutput, ELanguage eLanguage,
                   const std::vector<std::string>& ports);
    ~CProgressBoard();
    CProgressBoard(const CProgressBoard&) = delete;
    CProgressBoard& operator=(const CProgressBoard&) = delete;

    // The progress dialog of one run on port nIndex. Its Cancel is Ctrl-C or SIGTERM.
    std::unique_ptr<IProgressSink> CreateSink(size_t nIndex);
    // The last pause before the port closes.
    void OnFinishing(size_t nIndex);
    // The run on port nIndex has ended; strReason names a failure.
    void OnDone(size_t nIndex, EPortResult eResult, const std::string& strReason);
    // Stops the live lines and leaves them showing the last state.
    void Close();

    // Called by the sinks.
    void OnCreate(size_t nIndex);
    void OnRange(size_t nIndex, int32_t nUpper);
    void OnPos(size_t nIndex, int32_t nPos);

private:
    enum class EPhase { Open, Handshake, Loader, Package, Finish };

    struct CSlot {
        std::string m_strPort;
        EPhase m_ePhase = EPhase::Open; // the last phase entered, also after the result
        int m_nRanges = 0;
        int64_t m_nPackage = 0;     // bytes
        int64_t m_nLoaderUnits = 0; // eight for each loader byte
        int64_t m_nBytes = 0;       // of the phase
        int64_t m_nTotal = 0;       // of the phase
        int64_t m_nPos = 0;
        // Milliseconds on the program's clock, the one the transfer's own waits are judged on.
        int64_t m_nStartMs = 0;
        int64_t m_nPhaseStartMs = 0;
        int64_t m_nLastJsonMs = 0;
        bool m_bDone = false;
        EPortResult m_eResult = EPortResult::Ok;
        std::string m_strReason;
    };

    // All under m_mutex.
    void EnterPhase(CSlot& slot, EPhase ePhase);
    void WriteJson(const CSlot& slot, const char* pszEvent);
    std::string PhaseName(EPhase ePhase) const;
    std::string LiveLine(const CSlot& slot) const;
    std::string ResultLine(const CSlot& slot) const;
    void Draw(bool bLast);
    void RedrawLoop();

    FILE* m_pOut;
    const EOutput m_eOutput;
    const ELanguage m_eLanguage;

    std::mutex m_mutex;
    std::vector<CSlot> m_slots;
    bool m_bDirty = true;
    bool m_bDrawn = false;
    bool m_bStop = false;
    std::condition_variable m_cvStop;
    std::thread m_redraw;
};
