#pragma once
// How a worker thread reaches the windows. A window gives only "queue this for your thread"; a
// call is queued behind what is queued already and the worker waits on an event of its own until
// the window's ordinary loop has run it. Nothing is sent across threads and no loop of ours runs
// meanwhile, so the system's modal dialogs that a call opens run from the window's normal loop.
// Before the window's thread waits for a worker, it shuts the way, so that the worker is never
// left waiting for an answer that cannot come.
#include <functional>
#include <memory>

class IWindowThread {
public:
    virtual ~IWindowThread() = default;
    virtual bool IsWindowThread() const = 0;
    // Queues fn for the window's thread, behind everything queued before; false when it cannot.
    virtual bool Post(std::function<void()> fn) = 0;
};

class CWindowCalls {
public:
    // pThread must stay valid while any copy of this may call; the shared state outlives it.
    explicit CWindowCalls(std::shared_ptr<IWindowThread> pThread);

    // Runs fn on the window's thread and returns once it has run; at once when called there.
    // False, with fn not run, once the way is shut.
    bool Call(const std::function<void()>& fn) const;
    // Queues fn for the window's thread; run at once when called there. Dropped once shut.
    void Post(std::function<void()> fn) const;
    // Wakes every waiting call and refuses later ones. Only on the window's thread.
    void Shut() const;
    bool IsShut() const;
    bool IsWindowThread() const;

private:
    struct CShared;
    std::shared_ptr<IWindowThread> m_pThread;
    std::shared_ptr<CShared> m_pShared;
};
