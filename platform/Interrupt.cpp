#include "platform/Interrupt.h"

#include <csignal>

#include <atomic>

namespace {

// Lock-free, so the handler may touch it; every port's thread reads it at its cancel points.
std::atomic<bool> g_bInterrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void OnSignal(int) {
    g_bInterrupted.store(true);
}

} // namespace

struct CInterruptGuard::COldHandlers {
    struct sigaction m_int {};
    struct sigaction m_term {};
};

CInterruptGuard::CInterruptGuard() : m_pOld(std::make_unique<COldHandlers>()) {
    g_bInterrupted = false;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    // Restarted system calls: the waits on the ports poll on their own and need no EINTR.
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &m_pOld->m_int);
    sigaction(SIGTERM, &action, &m_pOld->m_term);
}

CInterruptGuard::~CInterruptGuard() {
    sigaction(SIGINT, &m_pOld->m_int, nullptr);
    sigaction(SIGTERM, &m_pOld->m_term, nullptr);
}

bool CInterruptGuard::IsInterrupted() {
    return g_bInterrupted.load();
}
