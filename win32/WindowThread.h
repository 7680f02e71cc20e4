#pragma once
// The thread that owns the windows. The device check and the transfer run on a worker so that
// the window keeps painting and answering; whatever they do to a window crosses back here and
// the worker waits until it is done, so the window's data are only ever touched by one thread at
// a time.
#include <functional>

#include "win32/WinApi.h"

class CWindowThread {
public:
    static constexpr UINT kCallMessage = WM_APP + 1;

    // hWnd belongs to the calling thread and handles kCallMessage with Dispatch.
    void Attach(HWND hWnd) {
        m_hWnd = hWnd;
        m_nThreadId = GetCurrentThreadId();
    }
    HWND GetWindow() const { return m_hWnd; }

    // Runs fn on the window's thread and returns when it has run: at once on that thread, else
    // through a sent message, which the window handles even inside a dialog's or a box's loop.
    void Run(const std::function<void()>& fn) const {
        if (!m_hWnd || GetCurrentThreadId() == m_nThreadId)
            fn();
        else
            SendMessageW(m_hWnd, kCallMessage, 0, reinterpret_cast<LPARAM>(&fn));
    }
    static void Dispatch(LPARAM lParam) {
        (*reinterpret_cast<const std::function<void()>*>(lParam))();
    }

private:
    HWND m_hWnd = nullptr;
    DWORD m_nThreadId = 0;
};
