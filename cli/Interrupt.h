#pragma once
// Ctrl-C and SIGTERM while the command line works: they do not end the process but are noted, so
// every transfer stops at its next cancel point the way the progress dialog's Cancel stops one,
// and every port is closed before the program exits with 130.
#include <csignal>

class CInterruptGuard {
public:
    // Catches SIGINT and SIGTERM until destroyed, then puts the old handling back.
    CInterruptGuard();
    ~CInterruptGuard();
    CInterruptGuard(const CInterruptGuard&) = delete;
    CInterruptGuard& operator=(const CInterruptGuard&) = delete;

    // True once either signal came while a guard was in force.
    static bool IsInterrupted();

private:
    struct sigaction m_oldInt {};
    struct sigaction m_oldTerm {};
};
