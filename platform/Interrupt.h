#pragma once
// Ctrl-C, SIGTERM and SIGHUP (on Windows: Ctrl-C, Ctrl-Break and the console window closing)
// while the command line works: they do not end the process but are noted, so every transfer
// stops at its next cancel point the way the progress dialog's Cancel stops one, and every port is
// closed before the program exits (130, or 129 for a hang-up). A second Ctrl-C or SIGTERM while
// the first is being handled ends the program at once, the signal's own way.
#include <memory>

class CInterruptGuard {
public:
    // Catches the interrupts until destroyed, then puts the old handling back.
    CInterruptGuard();
    ~CInterruptGuard();
    CInterruptGuard(const CInterruptGuard&) = delete;
    CInterruptGuard& operator=(const CInterruptGuard&) = delete;

    // True once an interrupt came while a guard was in force.
    static bool IsInterrupted();
    // True when the first of them was the terminal going away (SIGHUP; never on Windows).
    static bool IsHangUp();

private:
    struct COldHandlers;
    std::unique_ptr<COldHandlers> m_pOld;
};
