#pragma once
// Ctrl-C, SIGTERM and SIGHUP while the command line works: they do not end the process but are
// noted, so every transfer stops at its next cancel point the way the progress dialog's Cancel
// stops one, and every port is closed before the program exits (130 for Ctrl-C and SIGTERM, 129
// for a hang-up). A second Ctrl-C or SIGTERM while the first is being handled ends the program at
// once, the signal's own way.
#include <csignal>

class CInterruptGuard {
public:
    // Catches SIGINT, SIGTERM and SIGHUP until destroyed, then puts the old handling back.
    CInterruptGuard();
    ~CInterruptGuard();
    CInterruptGuard(const CInterruptGuard&) = delete;
    CInterruptGuard& operator=(const CInterruptGuard&) = delete;

    // True once one of the signals came while a guard was in force.
    static bool IsInterrupted();
    // The first of them that came, or 0.
    static int GetSignal();

private:
    struct sigaction m_oldInt {};
    struct sigaction m_oldTerm {};
    struct sigaction m_oldHup {};
};
