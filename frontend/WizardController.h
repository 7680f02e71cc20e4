#pragma once
// The front-end half of the wizard that both windows share: which presses run on the worker, the
// busy state, and the end of a run. A press or command that talks to the machine (the check, the
// transfer) runs on one worker thread while the window's thread goes on with its ordinary loop;
// everything else runs on the window's thread at once. While anything runs, input comes to
// nothing, and so does input still queued when a run ends.
#include <atomic>
#include <functional>
#include <thread>

#include "frontend/WindowCalls.h"
#include "frontend/WizardState.h"

// Command ids of the popups that the controller tells apart.
constexpr unsigned kIdCommandSendFirmware = 32772;

// Whether entering eTarget talks to the machine, so that its press runs on the worker.
bool PressRunsOnWorker(EStep eTarget);
// Whether the popup command nId talks to the machine.
bool CommandRunsOnWorker(unsigned nId);

class CWizardController {
public:
    // fnDiscardInput, run on the window's thread at the end of a run before input counts again,
    // drops the keys and clicks the window's system still holds for it.
    explicit CWizardController(CWindowCalls calls, std::function<void()> fnDiscardInput = {});
    // End(), if the window has not called it.
    ~CWizardController();
    // Shuts the calls and waits for the worker: a run cut short gets no more answers and ends
    // at its next question or cancel point. On the window's thread, as the window goes.
    void End();
    CWizardController(const CWizardController&) = delete;
    CWizardController& operator=(const CWizardController&) = delete;

    const CWindowCalls& GetCalls() const { return m_calls; }
    bool IsBusy() const { return m_nBusy > 0; }

    // "<< Back" or "Next >>" toward eTarget; false, with nothing run, while busy.
    bool Press(EStep eTarget, std::function<void()> fnPress);
    // A popup command; false, with nothing run, while busy.
    bool Command(unsigned nId, std::function<void()> fnRun);
    // Work of the window's own (About) that must not overlap a run; false while busy.
    bool RunHere(const std::function<void()>& fnRun);
    // Esc, the close box or Alt+F4 while busy: a check that waits for the machine ends as Cancel
    // in the port dialog ends it. Nothing else a busy window is given counts.
    void Cancel();
    // Whether Cancel came during the run under way; from any thread.
    bool IsCancelled() const { return m_bCancelled.load(); }

private:
    void RunOnWorker(std::function<void()> fnRun);
    void EndRun();

    CWindowCalls m_calls;
    std::function<void()> m_fnDiscardInput;
    std::thread m_worker;
    int m_nBusy = 0;
    std::atomic<bool> m_bCancelled{false};
};
