#pragma once
// The window shown while the firmware goes out (template 103): message line, bar, percent label
// and Cancel. The transfer calls it from its worker; each call runs on the window's thread.
// Cancel raises a flag and closes nothing. While it exists the main window is disabled.
#include <atomic>
#include <cstdint>
#include <string>

#include "frontend/ProgressSink.h"
#include "win32/WindowThread.h"

class CWinProgressDlg : public IProgressSink {
public:
    CWinProgressDlg(const CWindowThread& thread, HWND hOwner)
        : m_thread(thread), m_hOwner(hOwner) {}
    ~CWinProgressDlg() override;

    int Create() override;
    void SetMessage(const std::string& strText) override;
    void SetRange(int32_t nLower, int32_t nUpper) override;
    int SetPos(int32_t nPos) override;
    int CheckCancel() override { return m_bCancel.exchange(0); }

private:
    static INT_PTR CALLBACK DialogProc(HWND hDlg, UINT nMsg, WPARAM wParam, LPARAM lParam);

    const CWindowThread& m_thread;
    HWND m_hOwner;
    HWND m_hDlg = nullptr;
    bool m_bOwnerDisabled = false;
    int32_t m_nLower = 0;
    int32_t m_nUpper = 100;
    int32_t m_nPos = 0; // what the bar shows, within its range
    std::string m_strPercent = " 0 %";
    std::atomic<int> m_bCancel{0};
};
