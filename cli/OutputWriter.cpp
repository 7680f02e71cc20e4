#include "cli/OutputWriter.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/System.h"

namespace {

using CSteadyClock = std::chrono::steady_clock;

// One output: a descriptor of its own (so a writer left behind never writes to a descriptor the
// program has closed and reused), or the stream where there is no descriptor.
struct CSink {
    int m_nFd = -1;
    FILE* m_pStream = nullptr;
    bool m_bBroken = false; // a closed pipe, a terminal gone: the rest is dropped

    void Open(FILE* pStream) {
        std::fflush(pStream);
        m_nFd = DuplicateOutput(pStream);
        m_pStream = m_nFd >= 0 ? nullptr : pStream;
    }
    void Close() {
        if (m_nFd >= 0)
            CloseOutput(m_nFd);
        m_nFd = -1;
    }
    void Put(const std::string& strText) {
        if (m_bBroken || strText.empty())
            return;
        if (m_nFd < 0) {
            m_bBroken =
                std::fwrite(strText.data(), 1, strText.size(), m_pStream) != strText.size() ||
                std::fflush(m_pStream) != 0;
            return;
        }
        m_bBroken = !WriteOutput(m_nFd, strText.data(), strText.size());
    }
};

} // namespace

struct COutputWriter::CState {
    std::mutex m_mutex;
    std::condition_variable m_cvWork; // to the writer: text queued, a wake, the stop
    std::condition_variable m_cvDone; // from the writer: a round written, the end
    std::deque<std::pair<EStream, std::string>> m_queue;
    std::function<std::string()> m_fnSource;
    int m_nIntervalMs = 0;
    bool m_bWake = false;
    bool m_bStop = false;
    bool m_bEnded = false;
    // Texts taken from the queue so far, and of those written (or dropped on a broken output).
    uint64_t m_nTaken = 0;
    uint64_t m_nWritten = 0;
    CSteadyClock::time_point m_lastProgress = CSteadyClock::now();
    CSink m_out;
    CSink m_err;

    void Run();
    // Waits for the writer to reach bDone, or for the output to stand still for the stall limit.
    bool WaitFor(std::unique_lock<std::mutex>& lock, const std::function<bool()>& fnDone);
};

void COutputWriter::CState::Run() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        auto ready = [&] { return m_bStop || m_bWake || !m_queue.empty(); };
        if (m_fnSource && m_nIntervalMs > 0)
            m_cvWork.wait_for(lock, std::chrono::milliseconds(m_nIntervalMs), ready);
        else
            m_cvWork.wait(lock, ready);
        m_bWake = false;
        // The source's text and the queue are taken in one step: a text queued after the source
        // was cleared comes after the source's last text.
        std::string strLive = m_fnSource ? m_fnSource() : std::string();
        std::deque<std::pair<EStream, std::string>> queue;
        queue.swap(m_queue);
        const bool bStop = m_bStop;
        m_nTaken += queue.size();
        lock.unlock();
        m_out.Put(strLive);
        for (const auto& [eStream, strText] : queue)
            (eStream == EStream::Out ? m_out : m_err).Put(strText);
        lock.lock();
        m_nWritten += queue.size();
        m_lastProgress = CSteadyClock::now();
        m_cvDone.notify_all();
        if (bStop && m_queue.empty())
            break;
    }
    m_bEnded = true;
    m_out.Close();
    m_err.Close();
    m_cvDone.notify_all();
}

bool COutputWriter::CState::WaitFor(std::unique_lock<std::mutex>& lock,
                                    const std::function<bool()>& fnDone) {
    // The output stands still when nothing was written for the limit since the wait began or
    // since the last write, whichever is later.
    const auto start = CSteadyClock::now();
    while (!fnDone()) {
        const auto deadline =
            std::max(start, m_lastProgress) + std::chrono::milliseconds(kStallLimitMs);
        if (CSteadyClock::now() >= deadline)
            return false;
        m_cvDone.wait_until(lock, deadline);
    }
    return true;
}

COutputWriter::COutputWriter(FILE* pOut, FILE* pErr) : m_pState(std::make_shared<CState>()) {
    m_pState->m_out.Open(pOut);
    m_pState->m_err.Open(pErr);
    // The thread keeps the state alive: a writer left behind in a blocked write still has it.
    std::thread([pState = m_pState] { pState->Run(); }).detach();
}

COutputWriter::~COutputWriter() {
    Finish();
}

void COutputWriter::Write(EStream eStream, std::string strText) {
    {
        std::lock_guard lock(m_pState->m_mutex);
        if (m_pState->m_bStop)
            return;
        m_pState->m_queue.emplace_back(eStream, std::move(strText));
    }
    m_pState->m_cvWork.notify_one();
}

void COutputWriter::SetSource(std::function<std::string()> fnSource, int nIntervalMs) {
    {
        std::lock_guard lock(m_pState->m_mutex);
        m_pState->m_fnSource = std::move(fnSource);
        m_pState->m_nIntervalMs = nIntervalMs;
    }
    m_pState->m_cvWork.notify_one();
}

void COutputWriter::Wake() {
    {
        std::lock_guard lock(m_pState->m_mutex);
        m_pState->m_bWake = true;
    }
    m_pState->m_cvWork.notify_one();
}

bool COutputWriter::Flush() {
    CState& state = *m_pState;
    std::unique_lock lock(state.m_mutex);
    const uint64_t nTarget = state.m_nTaken + state.m_queue.size();
    return state.WaitFor(lock, [&] { return state.m_bEnded || state.m_nWritten >= nTarget; });
}

void COutputWriter::Finish() {
    CState& state = *m_pState;
    std::unique_lock lock(state.m_mutex);
    state.m_bStop = true;
    state.m_fnSource = nullptr;
    state.m_cvWork.notify_one();
    state.WaitFor(lock, [&] { return state.m_bEnded; });
}
