#pragma once
// The person at the bench, scripted: answers the questions from a list, records every box with
// the state of the wait cursor at that moment, and plays the port dialog.
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "frontend/Operator.h"
#include "frontend/WizardState.h"

struct CShownMessage {
    CMessage m_message;
    int m_nCursorDepth = 0;
    std::chrono::steady_clock::time_point m_time;
};

class CScriptedOperator : public IOperator {
public:
    // Answers to Retry/Cancel questions, in order; Cancel once they run out.
    std::deque<int> m_answers;
    // Runs when a question is asked, before it is answered (to change the machine meanwhile).
    std::function<void()> m_onQuestion;
    // The port dialog: OK with m_strDialogChoice, or Cancel.
    bool m_bDialogOk = false;
    std::string m_strDialogChoice = "COM1:";

    std::vector<CShownMessage> m_messages;
    std::vector<std::string> m_dialogPresets;
    std::vector<int> m_dialogCursorDepths;
    int m_nCursorDepth = 0;
    bool m_bCursorWentNegative = false;

    std::vector<unsigned> MessageIds() const {
        std::vector<unsigned> ids;
        for (const auto& shown : m_messages)
            ids.push_back(shown.m_message.m_nId);
        return ids;
    }

    int ShowMessage(const CMessage& message) override {
        m_messages.push_back({message, m_nCursorDepth, std::chrono::steady_clock::now()});
        if (message.m_eButtons == EButtons::Ok)
            return kIdOk;
        if (m_onQuestion)
            m_onQuestion();
        if (m_answers.empty())
            return kIdCancel;
        int nAnswer = m_answers.front();
        m_answers.pop_front();
        return nAnswer;
    }
    void BeginWaitCursor() override { ++m_nCursorDepth; }
    void EndWaitCursor() override {
        if (--m_nCursorDepth < 0)
            m_bCursorWentNegative = true;
    }
    bool RunPortDialog(std::string& strPort) override {
        m_dialogPresets.push_back(strPort);
        m_dialogCursorDepths.push_back(m_nCursorDepth);
        if (!m_bDialogOk)
            return false;
        strPort = m_strDialogChoice;
        return true;
    }
    bool RunFileOpenDialog(const std::string&, const std::string&, std::string&) override {
        return false;
    }
    std::unique_ptr<IProgressSink> CreateProgress() override { return nullptr; }
};

// The main window as far as the check sees it: what the controls showed at each refresh.
class CRecordingWindow : public IWizardWindow {
public:
    explicit CRecordingWindow(const CWizardState& state) : m_state(state) {}
    struct CShown {
        std::string m_strStep, m_strStatus, m_strPort;
    };
    std::vector<CShown> m_refreshes;
    int m_nRepaints = 0;

    void RefreshControls() override {
        m_refreshes.push_back({m_state.m_strStep, m_state.m_strStatus, m_state.m_strPort});
    }
    void Repaint() override { ++m_nRepaints; }
    void EnableButton(int, bool) override {}

private:
    const CWizardState& m_state;
};
