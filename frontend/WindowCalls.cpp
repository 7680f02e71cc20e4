#include "frontend/WindowCalls.h"

#include <condition_variable>
#include <mutex>

struct CWindowCalls::CShared {
    std::mutex m_mutex;
    std::condition_variable m_answered;
    bool m_bShut = false;
};

CWindowCalls::CWindowCalls(std::shared_ptr<IWindowThread> pThread)
    : m_pThread(std::move(pThread)), m_pShared(std::make_shared<CShared>()) {}

bool CWindowCalls::IsWindowThread() const {
    return m_pThread->IsWindowThread();
}

bool CWindowCalls::IsShut() const {
    std::lock_guard<std::mutex> lock(m_pShared->m_mutex);
    return m_pShared->m_bShut;
}

bool CWindowCalls::Call(const std::function<void()>& fn) const {
    if (IsWindowThread()) {
        fn();
        return true;
    }
    // The flag is shared with the queued call: once the worker has given up waiting, the call
    // must not touch fn, which lives on the worker's stack.
    struct CCall {
        bool m_bDone = false;
    };
    auto pCall = std::make_shared<CCall>();
    std::shared_ptr<CShared> pShared = m_pShared;
    if (IsShut())
        return false;
    const bool bQueued = m_pThread->Post([pShared, pCall, &fn] {
        {
            std::lock_guard<std::mutex> lock(pShared->m_mutex);
            if (pShared->m_bShut)
                return;
        }
        fn();
        {
            std::lock_guard<std::mutex> lock(pShared->m_mutex);
            pCall->m_bDone = true;
        }
        pShared->m_answered.notify_all();
    });
    if (!bQueued)
        return false;
    std::unique_lock<std::mutex> lock(pShared->m_mutex);
    pShared->m_answered.wait(lock, [&] { return pCall->m_bDone || pShared->m_bShut; });
    return pCall->m_bDone;
}

void CWindowCalls::Post(std::function<void()> fn) const {
    if (IsWindowThread()) {
        fn();
        return;
    }
    if (IsShut())
        return;
    std::shared_ptr<CShared> pShared = m_pShared;
    m_pThread->Post([pShared, fn = std::move(fn)] {
        {
            std::lock_guard<std::mutex> lock(pShared->m_mutex);
            if (pShared->m_bShut)
                return;
        }
        fn();
    });
}

void CWindowCalls::Shut() const {
    {
        std::lock_guard<std::mutex> lock(m_pShared->m_mutex);
        m_pShared->m_bShut = true;
    }
    m_pShared->m_answered.notify_all();
}
