#include "frontend/ForwardingOperator.h"

#include "frontend/ProgressForwarder.h"

int CForwardingOperator::ShowMessage(const CMessage& message) {
    int nResult = kIdCancel;
    m_calls.Call([&] { nResult = m_here.ShowMessage(message); });
    return nResult;
}

void CForwardingOperator::BeginWaitCursor() {
    m_calls.Call([this] { m_here.BeginWaitCursor(); });
}

void CForwardingOperator::EndWaitCursor() {
    m_calls.Call([this] { m_here.EndWaitCursor(); });
}

bool CForwardingOperator::RunPortDialog(std::string& strPort) {
    bool bChosen = false;
    m_calls.Call([&] { bChosen = m_here.RunPortDialog(strPort); });
    return bChosen;
}

bool CForwardingOperator::RunFileOpenDialog(const std::string& strFolder,
                                            const std::string& strFile, std::string& strChosen) {
    bool bChosen = false;
    m_calls.Call([&] { bChosen = m_here.RunFileOpenDialog(strFolder, strFile, strChosen); });
    return bChosen;
}

std::unique_ptr<IProgressSink> CForwardingOperator::CreateProgress() {
    return std::make_unique<CProgressForwarder>(
        m_calls, [this] { return m_here.CreateProgress(); }, m_fnAbandon);
}

void CForwardingWindow::RefreshControls() {
    m_calls.Call([this] { m_here.RefreshControls(); });
}

void CForwardingWindow::Repaint() {
    m_calls.Call([this] { m_here.Repaint(); });
}

void CForwardingWindow::EnableButton(int nControlId, bool bEnable) {
    m_calls.Call([&] { m_here.EnableButton(nControlId, bEnable); });
}
