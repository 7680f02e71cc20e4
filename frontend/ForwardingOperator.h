#pragma once
// The operator and the wizard window as the logic sees them from any thread: each call runs on
// the window's thread, through CWindowCalls, while the caller waits; a call from the window's
// thread runs at once. The window implements both only for its own thread. Once the window has
// shut its calls, a question is answered as a refusal (Cancel, no port, no file) and the run ends
// at its next question.
#include "frontend/Operator.h"
#include "frontend/ProgressForwarder.h"
#include "frontend/WindowCalls.h"
#include "frontend/WizardState.h"

class CForwardingOperator : public IOperator {
public:
    // Every progress dialog it makes gets fnAbandon: a forwarder that ends after the window's
    // thread has shut its calls hands its dialog there (CProgressForwarder), since the window
    // will not end it; without one such a dialog is left to the program's end.
    CForwardingOperator(IOperator& here, CWindowCalls calls,
                        CProgressForwarder::FnAbandon fnAbandon = {})
        : m_here(here), m_calls(std::move(calls)), m_fnAbandon(std::move(fnAbandon)) {}

    int ShowMessage(const CMessage& message) override;
    void BeginWaitCursor() override;
    void EndWaitCursor() override;
    bool RunPortDialog(std::string& strPort) override;
    bool RunFileOpenDialog(const std::string& strFolder, const std::string& strFile,
                           std::string& strChosen) override;
    // The window's own progress dialog behind a CProgressForwarder.
    std::unique_ptr<IProgressSink> CreateProgress() override;
    IWireTrace* GetWireTrace() override { return m_here.GetWireTrace(); }
    // The window answers this one from any thread itself: a cancel must not wait for the loop.
    bool IsCancelled() override { return m_here.IsCancelled(); }

private:
    IOperator& m_here;
    CWindowCalls m_calls;
    CProgressForwarder::FnAbandon m_fnAbandon;
};

class CForwardingWindow : public IWizardWindow {
public:
    CForwardingWindow(IWizardWindow& here, CWindowCalls calls)
        : m_here(here), m_calls(std::move(calls)) {}

    void RefreshControls() override;
    void Repaint() override;
    void EnableButton(int nControlId, bool bEnable) override;

private:
    IWizardWindow& m_here;
    CWindowCalls m_calls;
};
