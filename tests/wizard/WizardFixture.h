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
#include "tests/support/RecordingWindow.h"
#include "tests/support/ScriptedOperator.h"
#include "wizard/StepMachine.h"

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
        bool m_bFile;                 // a chosen file's bytes, not the built-in package
        std::vector<uint8_t> m_bytes; // those bytes
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
