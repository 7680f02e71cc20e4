#pragma once
// What the person or the script running an upgrade sees of every port at once. Each port's run
// reports the transfer's typed events into a slot of its own through its own progress sink; only
// the output writer's thread turns the slots into text, so a port's thread never waits for the
// output and lines of parallel runs never mix.
//   Terminal: one live line per port, redrawn in place at most ten times a second.
//   Plain:    one line per port and phase, then the result.
//   Json:     one object a line: start, phase, progress (at most once a second a port), done.
// With upgrade --confirm a port that was upgraded goes on: what to do for the restart (restart),
// then the machine's own answer (confirm).
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "frontend/ProgressSink.h"
#include "resources/Strings.h"

class COutputWriter;

enum class EOutput { Terminal, Plain, Json };

// HandedOver: a device server took every byte and cannot tell whether its line delivered them:
// not a failure to retry, not a success either.
enum class EPortResult { Ok, Failed, Cancelled, HandedOver };

// How a port's machine answered after its restart, worded by the command.
struct CConfirmResult {
    const char* m_pszResult = "no-answer"; // confirmed, other-version, wrong-model, no-answer,
                                           // cancelled
    bool m_bConfirmed = false;
    std::string m_strLine; // the port's line in the operator's language
    std::string m_strReply;
    std::string m_strModel;
    std::string m_strVersion;
    std::string m_strPackage;
    double m_fSeconds = 0; // after the transfer
    int m_nQuestions = 0;
    std::string m_strTrace; // the trace file the questions and answers go to; empty: none
};

class CProgressBoard {
public:
    // pTerminal: the terminal the live lines go to, for its width (Terminal only).
    CProgressBoard(COutputWriter& writer, FILE* pTerminal, EOutput eOutput, ELanguage eLanguage,
                   const std::vector<std::string>& ports);
    ~CProgressBoard();
    CProgressBoard(const CProgressBoard&) = delete;
    CProgressBoard& operator=(const CProgressBoard&) = delete;

    // The progress dialog of one run on port nIndex. Its Cancel is Ctrl-C, SIGTERM or SIGHUP.
    std::unique_ptr<IProgressSink> CreateSink(size_t nIndex);
    // The run on port nIndex has ended; strReason names a failure.
    void OnDone(size_t nIndex, EPortResult eResult, const std::string& strReason);
    // Port nIndex was upgraded and is now to be restarted: strText says how. Its answer is
    // waited for from now on.
    void OnRestartDue(size_t nIndex, const std::string& strText);
    void OnConfirmed(size_t nIndex, const CConfirmResult& result);
    // Hands the last text to the writer (on a terminal the last drawing, each line whole); what is
    // written after this comes after the board.
    void Close();

    // Called by the sinks on their port's thread.
    void OnCreate(size_t nIndex);
    void OnStepEntered(size_t nIndex, ETransferStep eStep);
    void OnBytesDone(size_t nIndex, ETransferStep eStep, int64_t nDone, int64_t nTotal);

private:
    enum class EPhase { Open, Handshake, Loader, Package, Finish };

    struct CSlot {
        std::string m_strPort;
        EPhase m_ePhase = EPhase::Open; // the last phase entered, also after the result
        int64_t m_nBytes = 0;           // of the phase
        int64_t m_nTotal = 0;           // of the phase
        // Milliseconds on the program's clock, the one the transfer's own waits are judged on.
        int64_t m_nStartMs = 0;
        int64_t m_nPhaseStartMs = 0;
        int64_t m_nLastJsonMs = 0;
        bool m_bDone = false;
        EPortResult m_eResult = EPortResult::Ok;
        std::string m_strReason;
        enum class EConfirm { None, Waiting, Done } m_eConfirm = EConfirm::None;
        int64_t m_nTransferEndMs = 0;
        std::string m_strRestartText;
        CConfirmResult m_confirm;
    };
    // A line of the plain or JSON output, as the slot stood when it happened.
    struct CRecord {
        const char* m_pszEvent; // start, phase, progress, done, restart, confirm
        CSlot m_slot;
        int64_t m_nAtMs;
    };

    // All under m_mutex.
    void EnterPhase(CSlot& slot, EPhase ePhase);
    void Note(const CSlot& slot, const char* pszEvent);
    std::string Format(const CRecord& record) const;
    // The plain or JSON lines of the records not yet taken.
    std::string FormatRecords();
    std::string FormatConfirm(const CRecord& record) const;
    std::string PhaseName(EPhase ePhase) const;
    std::string LiveLine(const CSlot& slot) const;
    std::string ResultLine(const CSlot& slot) const;
    std::string Draw(bool bLast);
    // The writer's source: what is new since it last asked.
    std::string TakeText();

    COutputWriter& m_writer;
    FILE* const m_pTerminal;
    const EOutput m_eOutput;
    const ELanguage m_eLanguage;

    std::mutex m_mutex;
    std::vector<CSlot> m_slots;
    std::vector<CRecord> m_records;
    // Terminal: lines printed once above the live lines (what to do for a restart).
    std::vector<std::string> m_notes;
    int64_t m_nDrawnSecond = -1; // a waiting port's time is redrawn each second
    bool m_bDirty = true;
    bool m_bDrawn = false;
    bool m_bClosed = false;
};
