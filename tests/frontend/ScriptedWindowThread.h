#pragma once
// The window's thread, played by the test's own thread: what a worker posts waits in a queue
// until the test runs it, as a window's loop would when it comes round to it.
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "frontend/WindowCalls.h"
#include "tests/support/Wait.h"

class CScriptedWindowThread : public IWindowThread {
public:
    bool IsWindowThread() const override { return std::this_thread::get_id() == m_id; }
    bool Post(std::function<void()> fn) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.push_back(std::move(fn));
        return true;
    }
    size_t Queued() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_queue.size();
    }
    // Runs what is queued now, in order (and what that queues in turn); how many ran.
    int RunQueued() {
        int nRun = 0;
        for (;;) {
            std::function<void()> fn;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                if (m_queue.empty())
                    return nRun;
                fn = std::move(m_queue.front());
                m_queue.pop_front();
            }
            fn();
            ++nRun;
        }
    }
    // Runs queued calls until fnDone holds.
    bool RunUntil(const std::function<bool()>& fnDone) {
        return WaitUntil([&] {
            RunQueued();
            return fnDone();
        });
    }

private:
    const std::thread::id m_id = std::this_thread::get_id();
    mutable std::mutex m_mutex;
    std::deque<std::function<void()>> m_queue;
};
