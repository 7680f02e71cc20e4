#include "tests/support/ScriptedOperator.h"

#include "platform/Clock.h"

int CScriptedOperator::ShowMessage(const CMessage& message) {
    m_messages.push_back(
        {message, m_nCursorDepth, std::chrono::steady_clock::now(), GetClock().GetMilliseconds()});
    if (message.m_eButtons == EButtons::Ok)
        return kIdOk;
    if (m_onQuestion)
        m_onQuestion();
    if (m_answers.empty())
        return kIdCancel;
    const int nAnswer = m_answers.front();
    m_answers.pop_front();
    return nAnswer;
}

bool CScriptedOperator::RunPortDialog(std::string& strPort) {
    m_dialogPresets.push_back(strPort);
    m_dialogCursorDepths.push_back(m_nCursorDepth);
    if (!m_bDialogOk)
        return false;
    strPort = m_strDialogChoice;
    return true;
}

bool CScriptedOperator::RunFileOpenDialog(const std::string& strFolder, const std::string& strFile,
                                          std::string& strChosen) {
    ++m_nFileDialogs;
    m_strFileFolder = strFolder;
    m_strFileName = strFile;
    if (!m_bFileOk)
        return false;
    strChosen = m_strFileAnswer;
    return true;
}

std::vector<unsigned> CScriptedOperator::MessageIds() const {
    std::vector<unsigned> ids;
    for (const auto& shown : m_messages)
        ids.push_back(shown.m_nId);
    return ids;
}
