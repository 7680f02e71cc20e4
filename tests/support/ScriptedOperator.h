#pragma once
// The person at the bench, scripted: answers the questions from a list, records every box with
// the state of the wait cursor at that moment, and plays the port and file-open dialogs.
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/QuietOperator.h"

struct CShownMessage : CMessage {
    int m_nCursorDepth = 0;
    std::chrono::steady_clock::time_point m_time;
    int64_t m_nClockMs = 0; // the program's clock (a test's own, where one is set)
};

class CScriptedOperator : public CQuietOperator {
public:
    int ShowMessage(const CMessage& message) override;
    void BeginWaitCursor() override { ++m_nCursorDepth; }
    void EndWaitCursor() override {
        if (--m_nCursorDepth < 0)
            m_bCursorWentNegative = true;
    }
    bool RunPortDialog(std::string& strPort) override;
    bool RunFileOpenDialog(const std::string& strFolder, const std::string& strFile,
                           std::string& strChosen) override;

    std::vector<unsigned> MessageIds() const;

    // Answers to Retry/Cancel questions, in order; Cancel once they run out.
    std::deque<int> m_answers;
    // Runs when a question is asked, before it is answered (to change the machine meanwhile).
    std::function<void()> m_onQuestion;
    std::vector<CShownMessage> m_messages;
    int m_nCursorDepth = 0;
    bool m_bCursorWentNegative = false;

    // The port dialog: the preset it saw and the wait cursor then; OK with m_strDialogChoice
    // when m_bDialogOk, else Cancel.
    bool m_bDialogOk = false;
    std::string m_strDialogChoice = "COM1:";
    std::vector<std::string> m_dialogPresets;
    std::vector<int> m_dialogCursorDepths;

    // The file-open dialog: where it started; OK with m_strFileAnswer when m_bFileOk.
    bool m_bFileOk = true;
    std::string m_strFileAnswer;
    std::string m_strFileFolder;
    std::string m_strFileName;
    int m_nFileDialogs = 0;
};
