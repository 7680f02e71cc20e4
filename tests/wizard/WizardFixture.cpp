#include "tests/wizard/WizardFixture.h"

#include "resources/Strings.h"

CMachineLink CScriptedMachine::MakeLink() {
    CMachineLink link;
    link.m_fnCheckFirmwareVersion = [this](CWizardState& state, IOperator&,
                                           const char* pszVersion) {
        m_checkPorts.push_back(state.m_strPort);
        m_checkVersions.push_back(pszVersion);
        if (state.m_strPort.empty())
            state.m_strPort = "COM2:";
        EXPECT_FALSE(m_checks.empty()) << "a check the test did not expect";
        if (m_checks.empty())
            return false;
        const CCheck check = m_checks.front();
        m_checks.pop_front();
        state.m_strStatus = check.m_strReply;
        const size_t nSpace = check.m_strReply.find(' ');
        if (nSpace != std::string::npos)
            state.m_nScanner = check.m_strReply.compare(nSpace + 1, 3, "NRP") == 0 ? 1 : 0;
        state.RefreshControls();
        return check.m_bPass;
    };
    link.m_fnTransferFirmware = [this](const std::string& strPort,
                                       const std::vector<uint8_t>* pPackage, IOperator&) {
        m_transferCalls.push_back(
            {strPort, pPackage != nullptr, pPackage ? *pPackage : std::vector<uint8_t>{}});
        if (m_transfers.empty())
            return 1;
        const int nResult = m_transfers.front();
        m_transfers.pop_front();
        return nResult;
    };
    return link;
}

CWizardFixture::CWizardFixture() : m_steps(m_state, m_op, &m_picture, m_machine.MakeLink()) {
    m_state.m_pWindow = &m_window;
    m_state.m_strPackageVersion = "V260";
    m_steps.Enter(EStep::Start);
}

EStep CWizardFixture::CurrentStep() const {
    for (int n = static_cast<int>(EStep::Start); n <= static_cast<int>(EStep::Finished); ++n) {
        const CStepInfo* pInfo = FindStepInfo(static_cast<EStep>(n));
        if (pInfo->m_eBack == m_state.m_eBack && pInfo->m_eNext == m_state.m_eNext) {
            EXPECT_EQ(m_state.m_strStep, LoadString(pInfo->m_nTextId)) << StepName(pInfo->m_eStep);
            return pInfo->m_eStep;
        }
    }
    ADD_FAILURE() << "targets of no step";
    return EStep::None;
}

const char* StepName(EStep eStep) {
    static const char* const names[] = {
        "None",        "Start",      "Connect",     "VersionCheck", "UnplugAdapter",
        "UnplugJ9J10", "PlugJ1J2",   "PlugAdapter", "Upgrade",      "TransferDone",
        "Retry",       "UnplugJ1J2", "PlugJ9J10",   "Finished",
    };
    return names[static_cast<int>(eStep)];
}
