#include "wizard/StepMachine.h"

#include <iterator>

#include "frontend/Operator.h"
#include "resources/PackageStrings.h"
#include "resources/Resources.h"
#include "resources/StringIds.h"
#include "resources/Strings.h"
#include "ufw/PackageCheck.h"
#include "wizard/PackageError.h"

namespace {

// The Retry step shares text and pictures with Unplug-adapter: after a failed transfer the
// operator starts the adapter-off, adapter-on round again.
const CStepInfo g_steps[] = {
    {EStep::Start, kIdsPutScanUnit, kIdbScanUnit, kIdbScanUnit, EStep::None, EStep::Connect},
    {EStep::Connect, kIdsConnectMachine, kIdbMillingCabled, kIdbScannerCabled, EStep::Start,
     EStep::VersionCheck},
    {EStep::VersionCheck, kIdsCheckingVersion, kIdbMillingCabled, kIdbScannerCabled, EStep::Connect,
     EStep::UnplugAdapter},
    {EStep::UnplugAdapter, kIdsUnplugAdapter, kIdbMillingUnplugged, kIdbScannerUnplugged,
     EStep::Connect, EStep::UnplugJ9J10},
    {EStep::UnplugJ9J10, kIdsUnplugJ9J10, kIdbMillingJ9J10, kIdbScannerJ9J10, EStep::UnplugAdapter,
     EStep::PlugJ1J2},
    {EStep::PlugJ1J2, kIdsPlugJ1J2, kIdbMillingJ1J2, kIdbScannerJ1J2, EStep::UnplugJ9J10,
     EStep::PlugAdapter},
    {EStep::PlugAdapter, kIdsPlugAdapter, kIdbMillingCabled, kIdbScannerCabled, EStep::PlugJ1J2,
     EStep::Upgrade},
    {EStep::Upgrade, kIdsUpgrading, kIdbMillingCabled, kIdbScannerCabled, EStep::PlugAdapter,
     EStep::TransferDone},
    {EStep::TransferDone, kIdsTransferDone, kIdbMillingCabled, kIdbScannerCabled, EStep::Retry,
     EStep::UnplugJ1J2},
    {EStep::Retry, kIdsUnplugAdapter, kIdbMillingUnplugged, kIdbScannerUnplugged, EStep::PlugJ1J2,
     EStep::PlugAdapter},
    {EStep::UnplugJ1J2, kIdsUnplugJ1J2, kIdbMillingJ1J2, kIdbScannerJ1J2, EStep::Retry,
     EStep::PlugJ9J10},
    {EStep::PlugJ9J10, kIdsPlugJ9J10, kIdbMillingJ9J10, kIdbScannerJ9J10, EStep::UnplugJ1J2,
     EStep::Finished},
    {EStep::Finished, kIdsUpgradeCompleted, kIdbMillingCabled, kIdbScannerCabled, EStep::PlugJ9J10,
     EStep::Start},
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

void CStepMachine::Begin() {
    m_state.m_strPort.clear();
    m_state.m_strPackageVersion = "V" + LoadString(kIdsPackageVersion);
    Enter(EStep::Start);
    m_state.m_strPackage = ReadPackageText(m_state.m_strPackagePath);
}

int CStepMachine::Enter(EStep eStep) {
    if (eStep == EStep::None)
        return 1;
    const CStepInfo& info = *FindStepInfo(eStep);
    switch (eStep) {
    case EStep::Start:
        return EnterStart(info);
    case EStep::VersionCheck:
        return EnterVersionCheck(info);
    case EStep::Upgrade:
        return EnterUpgrade(info);
    case EStep::TransferDone:
        return EnterTransferDone(info);
    default:
        ShowRow(info);
        return 1;
    }
}

void CStepMachine::ShowRow(const CStepInfo& info) {
    m_state.m_eBack = info.m_eBack;
    m_state.m_eNext = info.m_eNext;
    ShowStep(info.m_nTextId, info.m_nMillingBitmap, info.m_nScannerBitmap);
}

int CStepMachine::EnterStart(const CStepInfo& info) {
    m_state.EnableButton(kIdBack, false);
    m_state.m_strStatus.clear();
    ShowRow(info);
    return 1;
}

int CStepMachine::EnterVersionCheck(const CStepInfo& info) {
    ShowRow(info);
    const std::string strVersion = m_state.m_strPackageVersion;
    if (m_link.m_fnCheckFirmwareVersion(m_state, m_op, strVersion.c_str()))
        return Enter(m_state.m_eNext);
    return Enter(EStep::Start);
}

int CStepMachine::SendPackage() {
    CLoadedPackage chosen;
    const bool bChosen = !m_state.m_strPackagePath.empty();
    if (bChosen) {
        // A file that is no package takes the same way out as one that does not open.
        chosen = LoadCheckedPackage(m_state.m_strPackagePath);
        if (chosen.m_eResult != EPackageLoad::Ok) {
            ReportUnsendablePackage(m_op, chosen, m_state.m_strPackagePath);
            return kNotSent;
        }
    }
    // The port name is copied: the transfer holds it for the whole run, whatever the state does.
    const std::string strPort = m_state.m_strPort;
    return m_link.m_fnTransferFirmware(strPort, bChosen ? &chosen.m_bytes : nullptr, m_op);
}

int CStepMachine::EnterUpgrade(const CStepInfo& info) {
    ShowRow(info);
    const int nResult = SendPackage();
    if (nResult == kNotSent)
        return StayUnsent();
    Enter(nResult ? EStep::TransferDone : EStep::Retry);
    return 1;
}

int CStepMachine::StayUnsent() {
    // The row's Next would be Transfer-done: "Transit completed." for a machine that got nothing,
    // and the operator would put the jumpers back. Next enters this step again instead, so the
    // file is opened and sent anew (after Open... chose another one, say).
    m_state.m_eBack = EStep::PlugAdapter;
    m_state.m_eNext = EStep::Upgrade;
    return 0;
}

int CStepMachine::EnterTransferDone(const CStepInfo& info) {
    m_state.m_strStatus = m_state.m_strPackageVersion;
    ShowRow(info);
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
