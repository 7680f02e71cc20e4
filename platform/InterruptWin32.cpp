#include "platform/Interrupt.h"

#include <atomic>

#include "platform/Win32Api.h"

namespace {

std::atomic<bool> g_bInterrupted{false};

// Windows calls this on a thread of its own. Closing the console, logging off or shutting down
// ends the process as soon as the handler returns, so the handler waits a little for the ports
// to be closed at their cancel points.
BOOL WINAPI OnConsoleEvent(DWORD dwType) {
    switch (dwType) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        // A second one while the first is being handled: the default handler ends the process.
        return g_bInterrupted.exchange(true) ? FALSE : TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        g_bInterrupted.store(true);
        Sleep(2000);
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

struct CInterruptGuard::COldHandlers {};

CInterruptGuard::CInterruptGuard() {
    g_bInterrupted = false;
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

CInterruptGuard::~CInterruptGuard() {
    SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
}

bool CInterruptGuard::IsInterrupted() {
    return g_bInterrupted.load();
}

bool CInterruptGuard::IsHangUp() {
    return false;
}
