#include "platform/Interrupt.h"

#include <csignal>

#include <atomic>

namespace {

// Lock-free, so the handler may touch it; every port's thread reads it at its cancel points.
std::atomic<int> g_nSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

void OnSignal(int nSignal) {
    int nNone = 0;
    if (g_nSignal.compare_exchange_strong(nNone, nSignal) || nSignal == SIGHUP)
        return;
    // A second Ctrl-C or SIGTERM: the person or the system means it. A repeated hang-up is only
    // the terminal going on going away.
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(nSignal, &action, nullptr);
    raise(nSignal);
}

} // namespace

struct CInterruptGuard::COldHandlers {
    struct sigaction m_int {};
    struct sigaction m_term {};
    struct sigaction m_hup {};
};

CInterruptGuard::CInterruptGuard() : m_pOld(std::make_unique<COldHandlers>()) {
    g_nSignal = 0;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    // Restarted system calls: the waits on the ports poll on their own and need no EINTR.
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &m_pOld->m_int);
    sigaction(SIGTERM, &action, &m_pOld->m_term);
    sigaction(SIGHUP, &action, &m_pOld->m_hup);
}

CInterruptGuard::~CInterruptGuard() {
    sigaction(SIGINT, &m_pOld->m_int, nullptr);
    sigaction(SIGTERM, &m_pOld->m_term, nullptr);
    sigaction(SIGHUP, &m_pOld->m_hup, nullptr);
}

bool CInterruptGuard::IsInterrupted() {
    return g_nSignal.load() != 0;
}

bool CInterruptGuard::IsHangUp() {
    return g_nSignal.load() == SIGHUP;
}
