#pragma once
// Everything the command line prints goes through one writer thread, so no thread that drives a
// port ever waits for a terminal or a pipe: a terminal nobody reads (Ctrl-S, a stalled remote
// session) holds back only the writer, and a closed pipe only ends the output, never the runs.
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

enum class EStream { Out, Err };

class COutputWriter {
public:
    // Writes to the descriptors behind pOut and pErr (or through the streams themselves when they
    // have none, as memory streams). Nothing else may write to them until the writer is gone.
    COutputWriter(FILE* pOut, FILE* pErr);
    // Finish(), then the thread is joined, or left behind blocked in its write.
    ~COutputWriter();
    COutputWriter(const COutputWriter&) = delete;
    COutputWriter& operator=(const COutputWriter&) = delete;

    // Queues strText; never waits for the output.
    void Write(EStream eStream, std::string strText);
    // A source of text the writer asks on each round, before the queued texts: called on the
    // writer's thread, at once after Wake() and otherwise every nIntervalMs (0: only on Wake).
    // Cleared with nullptr; once SetSource returns, the old source is no longer called.
    void SetSource(std::function<std::string()> fnSource, int nIntervalMs);
    // The source has something new.
    void Wake();
    // Waits until everything queued so far is written, or the output has made no progress for
    // the stall limit. False when it gave up.
    bool Flush();
    // Flush(), then stops the thread. A writer stuck in a write that does not return is left to
    // it: the program ends without the rest of its output rather than wait for a reader forever.
    void Finish();

    // How long the output may stand still before Flush and Finish give up on it.
    static constexpr int kStallLimitMs = 2000;

private:
    struct CState;
    std::shared_ptr<CState> m_pState;
};
