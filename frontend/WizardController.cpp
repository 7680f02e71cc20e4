#include "frontend/WizardController.h"

bool PressRunsOnWorker(EStep eTarget) {
    return eTarget == EStep::VersionCheck || eTarget == EStep::Upgrade;
}

bool CommandRunsOnWorker(unsigned nId) {
    return nId == kIdCommandSendFirmware;
}

CWizardController::CWizardController(CWindowCalls calls, std::function<void()> fnDiscardInput)
    : m_calls(std::move(calls)), m_fnDiscardInput(std::move(fnDiscardInput)) {}

CWizardController::~CWizardController() {
    End();
}

void CWizardController::End() {
    m_calls.Shut();
    if (m_worker.joinable())
        m_worker.join();
}

bool CWizardController::Press(EStep eTarget, std::function<void()> fnPress) {
    if (m_nBusy)
        return false;
    if (PressRunsOnWorker(eTarget))
        RunOnWorker(std::move(fnPress));
    else
        RunHere(fnPress);
    return true;
}

bool CWizardController::Command(unsigned nId, std::function<void()> fnRun) {
    if (m_nBusy)
        return false;
    if (CommandRunsOnWorker(nId))
        RunOnWorker(std::move(fnRun));
    else
        RunHere(fnRun);
    return true;
}

bool CWizardController::RunHere(const std::function<void()>& fnRun) {
    if (m_nBusy)
        return false;
    // A modal box opened here runs the window's loop, which may deliver another press.
    ++m_nBusy;
    fnRun();
    --m_nBusy;
    return true;
}

void CWizardController::Cancel() {
    if (m_nBusy)
        m_bCancelled = true;
}

void CWizardController::RunOnWorker(std::function<void()> fnRun) {
    // Busy until the run's end arrives here, behind every call the run made.
    ++m_nBusy;
    m_bCancelled = false;
    m_worker = std::thread([this, fnRun = std::move(fnRun)] {
        fnRun();
        m_calls.Post([this] { EndRun(); });
    });
}

void CWizardController::EndRun() {
    m_worker.join();
    // Keys and clicks given while the machine was asked are still queued; they must not start a
    // step now that the window takes input again.
    if (m_fnDiscardInput)
        m_fnDiscardInput();
    --m_nBusy;
}
