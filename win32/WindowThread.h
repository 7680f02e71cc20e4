#pragma once
// The Win32 window's thread as the shared calls need it: a call is a posted message that the
// window's own loop dispatches, behind what is queued already. Nothing crosses threads with a
// sent message, so a file dialog or a box that a call opens runs from the window's ordinary loop
// and may make the outgoing calls the shell's dialogs make.
#include <functional>
#include <memory>

#include "frontend/WindowCalls.h"
#include "win32/WinApi.h"

class CWin32WindowThread : public IWindowThread {
public:
    static constexpr UINT kCallMessage = WM_APP + 1;

    // hWnd belongs to the calling thread and hands kCallMessage to Dispatch.
    void Attach(HWND hWnd) {
        m_hWnd = hWnd;
        m_nThreadId = GetCurrentThreadId();
    }
    // Before Attach the thread that made this counts as the window's: a call made there runs at
    // once, and one from any other thread is refused rather than run on the wrong thread.
    bool IsWindowThread() const override { return GetCurrentThreadId() == m_nThreadId; }
    bool Post(std::function<void()> fn) override {
        auto pCall = std::make_unique<std::function<void()>>(std::move(fn));
        if (!m_hWnd ||
            !PostMessageW(m_hWnd, kCallMessage, 0, reinterpret_cast<LPARAM>(pCall.get())))
            return false;
        static_cast<void>(pCall.release());
        return true;
    }
    static void Dispatch(LPARAM lParam) {
        std::unique_ptr<std::function<void()>> pCall(
            reinterpret_cast<std::function<void()>*>(lParam));
        (*pCall)();
    }

private:
    HWND m_hWnd = nullptr;
    DWORD m_nThreadId = GetCurrentThreadId();
};
