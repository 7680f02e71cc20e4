#pragma once
// The window shown while the firmware goes out (template 103): message line, bar, percent label
// and Cancel. It lives on the window's thread and draws the shared progress model; a transfer on
// the worker reaches it through CProgressForwarder. Cancel, Esc, Enter on the focused Cancel, the
// close box and Alt+F4 raise a flag and close nothing: the main window's loop routes this
// dialog's keys through its IsDialogMessage, found at *phKeys. While it exists the main window
// is disabled.
#include <atomic>
#include <cstdint>
#include <string>

#include "frontend/ProgressModel.h"
#include "frontend/ProgressSink.h"
#include "win32/WinApi.h"

class CWinProgressDlg : public IProgressSink {
public:
    CWinProgressDlg(HWND hOwner, HWND* phKeys) : m_hOwner(hOwner), m_phKeys(phKeys) {}
    ~CWinProgressDlg() override;

    int Create() override;
    void SetMessage(const std::string& strText) override;
    void SetRange(int32_t nLower, int32_t nUpper) override;
    int SetPos(int32_t nPos) override;
    // The only call that may come from another thread.
    int CheckCancel() override { return m_bCancel.exchange(0); }

private:
    static INT_PTR CALLBACK DialogProc(HWND hDlg, UINT nMsg, WPARAM wParam, LPARAM lParam);

    HWND m_hOwner;
    HWND* m_phKeys;
    HWND m_hDlg = nullptr;
    bool m_bOwnerDisabled = false;
    CProgressModel m_model;
    std::atomic<int> m_bCancel{0};
};
