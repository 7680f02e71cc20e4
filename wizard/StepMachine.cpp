#include "wizard/StepMachine.h"

#include <iterator>

#include "frontend/Operator.h"
#include "resources/Strings.h"
#include "transfer/PackageFile.h"
#include "wizard/FileError.h"

namespace {

// The Retry step shares text and pictures with Unplug-adapter: after a failed transfer the
// operator starts the adapter-off, adapter-on round again.
const CStepInfo g_steps[] = {
    {EStep::Start, 111, 130, 130, EStep::None, EStep::Connect},
    {EStep::Connect, 112, 132, 137, EStep::Start, EStep::VersionCheck},
    {EStep::VersionCheck, 113, 132, 137, EStep::Connect, EStep::UnplugAdapter},
    {EStep::UnplugAdapter, 115, 133, 138, EStep::Connect, EStep::UnplugJ9J10},
    {EStep::UnplugJ9J10, 121, 134, 139, EStep::UnplugAdapter, EStep::PlugJ1J2},
    {EStep::PlugJ1J2, 122, 135, 140, EStep::UnplugJ9J10, EStep::PlugAdapter},
    {EStep::PlugAdapter, 123, 132, 137, EStep::PlugJ1J2, EStep::Upgrade},
    {EStep::Upgrade, 116, 132, 137, EStep::PlugAdapter, EStep::TransferDone},
    {EStep::TransferDone, 117, 132, 137, EStep::Retry, EStep::UnplugJ1J2},
    {EStep::Retry, 115, 133, 138, EStep::PlugJ1J2, EStep::PlugAdapter},
    {EStep::UnplugJ1J2, 118, 135, 140, EStep::Retry, EStep::PlugJ9J10},
    {EStep::PlugJ9J10, 119, 134, 139, EStep::UnplugJ1J2, EStep::Finished},
    {EStep::Finished, 120, 132, 137, EStep::PlugJ9J10, EStep::Start},
};

} // namespace

const CStepInfo* FindStepInfo(EStep eStep) {
    for (const CStepInfo& info : g_steps) {
        if (info.m_eStep == eStep)
            return &info;
    }
    return nullptr;
}

CStepMachine::CStepMachine(CWizardState& state, IOperator& op, IStepPicture* pPicture,
                           CMachineLink link)
    : m_state(state), m_op(op), m_pPicture(pPicture), m_link(std::move(link)) {}

void CStepMachine::ShowStep(unsigned nTextId, int nMillingBitmap, int nScannerBitmap) {
    const int nBitmap = m_state.m_nScanner ? nScannerBitmap : nMillingBitmap;
    if (m_pPicture) {
        m_pPicture->Free();
        m_pPicture->Load(nBitmap);
    }
    m_state.m_strStep = LoadString(nTextId);
    m_state.RefreshControls();
    m_state.Repaint();
}

int CStepMachine::Enter(EStep eStep) {
    switch (eStep) {
    case EStep::None:
        return 1;
    case EStep::Start:
        return EnterStart();
    case EStep::VersionCheck:
        return EnterVersionCheck();
    case EStep::Upgrade:
        return EnterUpgrade();
    case EStep::TransferDone:
        return EnterTransferDone();
    default:
        return EnterOrdinary(*FindStepInfo(eStep));
    }
}

int CStepMachine::EnterOrdinary(const CStepInfo& info) {
    m_state.m_eBack = info.m_eBack;
    m_state.m_eNext = info.m_eNext;
    ShowStep(info.m_nTextId, info.m_nMillingBitmap, info.m_nScannerBitmap);
    return 1;
}

int CStepMachine::EnterStart() {
    m_state.m_eBack = EStep::None;
    m_state.m_eNext = EStep::Connect;
    m_state.EnableButton(kIdBack, false);
    m_state.m_strStatus.clear();
    ShowStep(111, 130, 130);
    return 1;
}

int CStepMachine::EnterVersionCheck() {
    m_state.m_eBack = EStep::Connect;
    m_state.m_eNext = EStep::UnplugAdapter;
    ShowStep(113, 132, 137);
    const std::string strVersion = m_state.m_strPackageVersion;
    if (m_link.m_fnCheckFirmwareVersion(m_state, m_op, strVersion.c_str()))
        return Enter(m_state.m_eNext);
    return EnterStart();
}

int CStepMachine::SendPackage() {
    CPackageFile file;
    CPackageFile* pFile = nullptr;
    if (!m_state.m_strPackagePath.empty()) {
        if (!file.Open(m_state.m_strPackagePath)) {
            ReportFileError(m_op, file.GetError(), m_state.m_strPackagePath);
            return -1;
        }
        pFile = &file;
    }
    // The port name is copied: the transfer runs a nested event loop for its progress dialog.
    const std::string strPort = m_state.m_strPort;
    const int nResult = m_link.m_fnTransferFirmware(strPort, pFile, m_op);
    file.Close();
    return nResult;
}

int CStepMachine::EnterUpgrade() {
    m_state.m_eBack = EStep::PlugAdapter;
    m_state.m_eNext = EStep::TransferDone;
    ShowStep(116, 132, 137);
    const int nResult = SendPackage();
    if (nResult < 0)
        return 0;
    if (nResult)
        EnterTransferDone();
    else
        Enter(EStep::Retry);
    return 1;
}

int CStepMachine::EnterTransferDone() {
    m_state.m_strStatus = m_state.m_strPackageVersion;
    m_state.m_eBack = EStep::Retry;
    m_state.m_eNext = EStep::UnplugJ1J2;
    ShowStep(117, 132, 137);
    return 1;
}

void CStepMachine::EnableButtons() {
    m_state.EnableButton(kIdBack, m_state.m_eBack != EStep::None);
    m_state.EnableButton(kIdNext, m_state.m_eNext != EStep::None);
}

void CStepMachine::BackPressed() {
    Enter(m_state.m_eBack);
    EnableButtons();
}

void CStepMachine::NextPressed() {
    Enter(m_state.m_eNext);
    EnableButtons();
}
