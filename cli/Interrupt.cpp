#include "cli/Interrupt.h"

#include <atomic>

namespace {

// Lock-free, so the handler may touch it; every port's thread reads it at its cancel points.
std::atomic<bool> g_bInterrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void OnSignal(int) {
    g_bInterrupted.store(true);
}

} // namespace

CInterruptGuard::CInterruptGuard() {
    g_bInterrupted = false;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    // Restarted system calls: the waits on the ports poll on their own and need no EINTR.
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &m_oldInt);
    sigaction(SIGTERM, &action, &m_oldTerm);
}

CInterruptGuard::~CInterruptGuard() {
    sigaction(SIGINT, &m_oldInt, nullptr);
    sigaction(SIGTERM, &m_oldTerm, nullptr);
}

bool CInterruptGuard::IsInterrupted() {
    return g_bInterrupted.load();
}
