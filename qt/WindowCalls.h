#pragma once
// How a worker thread reaches the windows. Every call runs on the thread that owns them, in the
// order the worker made it; Call waits for its answer, Post does not. The window's thread runs no
// loop of its own for this: the calls arrive as queued events of its ordinary event loop.
// Before the window's thread waits for a worker, it shuts the way, so that the worker is never
// left waiting for an answer that cannot come.
#include <QObject>

#include <functional>
#include <memory>

class CWindowCalls {
public:
    // pContext lives on the windows' thread; the calls run in its name. It must outlive every
    // worker that calls: its owner shuts the way and waits for the worker before it goes.
    explicit CWindowCalls(QObject* pContext);

    // Runs fn on the windows' thread and returns once it has run; at once when called there.
    // False, with fn not run, once the way is shut.
    bool Call(const std::function<void()>& fn) const;
    // Queues fn for the windows' thread; run at once when called there.
    void Post(std::function<void()> fn) const;
    // Wakes every waiting call and refuses later ones. Only on the windows' thread, between
    // two events.
    void Shut() const;
    bool IsShut() const;
    bool IsWindowThread() const;

private:
    struct CShared;
    QObject* m_pContext;
    std::shared_ptr<CShared> m_pShared;
};
