#pragma once
// A wizard without a window: a scripted operator, a window that records what it was told, a
// picture that records what it loaded, and a machine whose check and transfer a test scripts.
#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "frontend/Operator.h"
#include "frontend/WizardState.h"
#include "wizard/StepMachine.h"

class CScriptedOperator : public IOperator {
public:
    int ShowMessage(const CMessage& message) override;
    void BeginWaitCursor() override { ++m_nWaitCursors; }
    void EndWaitCursor() override { --m_nWaitCursors; }
    bool RunPortDialog(std::string& strPort) override;
    bool RunFileOpenDialog(const std::string& strFolder, const std::string& strFile,
                           std::string& strChosen) override;
    std::unique_ptr<IProgressSink> CreateProgress() override { return nullptr; }

    std::vector<CMessage> m_messages;
    int m_nWaitCursors = 0;

    // The port dialog: the preset it saw; OK with m_strPortAnswer unless m_bPortOk is false.
    std::vector<std::string> m_portPresets;
    bool m_bPortOk = true;
    std::string m_strPortAnswer;

    // The file-open dialog: where it started; OK with m_strFileAnswer unless m_bFileOk is false.
    std::string m_strFileFolder;
    std::string m_strFileName;
    int m_nFileDialogs = 0;
    bool m_bFileOk = true;
    std::string m_strFileAnswer;
};

class CRecordingWindow : public IWizardWindow {
public:
    explicit CRecordingWindow(const CWizardState& state) : m_state(state) {}
    void RefreshControls() override { m_shownStatus.push_back(m_state.m_strStatus); }
    void Repaint() override { ++m_nRepaints; }
    void EnableButton(int nControlId, bool bEnable) override {
        (nControlId == kIdBack ? m_bBackEnabled : m_bNextEnabled) = bEnable;
    }

    const CWizardState& m_state;
    std::vector<std::string> m_shownStatus; // the status line at every refresh
    int m_nRepaints = 0;
    bool m_bBackEnabled = true;
    bool m_bNextEnabled = true;
};

class CRecordingPicture : public IStepPicture {
public:
    void Free() override { m_nLoaded = 0; }
    int Load(int nId) override {
        m_nLoaded = nId;
        return 1;
    }
    int m_nLoaded = 0;
};

// A machine on the other end that answers one check after another as scripted. Each check
// finds "COM2:" when no port is set, as port discovery would.
struct CScriptedMachine {
    struct CCheck {
        std::string m_strReply; // written to the status line, e.g. "V250 TVK-50"
        bool m_bPass;
    };
    std::deque<CCheck> m_checks;
    std::deque<int> m_transfers; // results; 1 when the script has run out

    std::vector<std::string> m_checkPorts;    // port name each check started with
    std::vector<std::string> m_checkVersions; // package version each check was given
    struct CTransferCall {
        std::string m_strPort;
        bool m_bFile;
        int64_t m_nFileLength;
    };
    std::vector<CTransferCall> m_transferCalls;

    CMachineLink MakeLink();
};

class CWizardFixture : public ::testing::Test {
protected:
    CWizardFixture();

    // The step the wizard shows now, told by its targets (each step has its own pair) and
    // checked against its text.
    EStep CurrentStep() const;
    int Picture() const { return m_picture.m_nLoaded; }

    CWizardState m_state;
    CRecordingWindow m_window{m_state};
    CRecordingPicture m_picture;
    CScriptedOperator m_op;
    CScriptedMachine m_machine;
    CStepMachine m_steps;
};

const char* StepName(EStep eStep);
