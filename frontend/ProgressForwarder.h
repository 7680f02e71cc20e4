#pragma once
// The transfer's side of a progress dialog that lives on the window's thread, for a transfer that
// runs on a worker. Making, showing and destroying the dialog wait for the window, so the main
// window is disabled before the first byte and enabled again before the run reports. The
// message, range and positions never wait: the latest of them is recorded here and one drawing
// is queued for the window, which draws whatever is latest when it comes to it; later changes
// before that drawing ride along with it. A busy or slow window so costs the line nothing.
// Cancel is the dialog's flag, read where it is; once the window has shut its calls, every check
// answers Cancel.
#include <functional>
#include <memory>
#include <mutex>

#include "frontend/ProgressModel.h"
#include "frontend/ProgressSink.h"
#include "frontend/WindowCalls.h"

class CProgressForwarder : public IProgressSink {
public:
    using FnMakeDialog = std::function<std::unique_ptr<IProgressSink>()>;
    using FnAbandon = std::function<void(std::unique_ptr<IProgressSink>)>;
    // fnMakeDialog runs on the window's thread, at once, and makes the dialog there, not yet
    // created. fnAbandon takes a dialog the window's thread no longer answers for, from another
    // thread; without it such a dialog is left to the program's end.
    CProgressForwarder(CWindowCalls calls, const FnMakeDialog& fnMakeDialog,
                       FnAbandon fnAbandon = {});
    ~CProgressForwarder() override;
    CProgressForwarder(const CProgressForwarder&) = delete;
    CProgressForwarder& operator=(const CProgressForwarder&) = delete;

    int Create() override;
    void SetMessage(const std::string& strText) override;
    void SetRange(int32_t nLower, int32_t nUpper) override;
    int SetPos(int32_t nPos) override;
    int CheckCancel() override;

    // How many drawings the window has been asked for: changes coalesce into fewer.
    int GetDrawsQueued() const;

protected:
    IProgressSink* GetDialog() const { return m_pDlg.get(); }

private:
    // With the mutex held: true when no drawing is queued yet, so the caller posts one.
    bool TakeDrawTurn();
    // Without the mutex.
    void PostDraw();
    // On the window's thread.
    void Draw();

    CWindowCalls m_calls;
    FnAbandon m_fnAbandon;
    std::unique_ptr<IProgressSink> m_pDlg; // touched on the window's thread only

    mutable std::mutex m_mutex;
    CProgressModel m_model;
    std::string m_strMessage;
    bool m_bMessage = false; // a message waits to be drawn
    bool m_bRange = false;   // a range waits to be drawn
    bool m_bPos = false;     // a position waits to be drawn
    int32_t m_nLatestPos = 0;
    bool m_bDrawQueued = false;
    int m_nDrawsQueued = 0;
};
