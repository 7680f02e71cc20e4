#include "wizard/ServiceCommands.h"

#include "platform/FileAccess.h"
#include "platform/System.h"

#include "frontend/AppTitle.h"
#include "frontend/Operator.h"
#include "resources/StringIds.h"
#include "resources/Strings.h"
#include "ufw/PackageCheck.h"
#include "ufw/PackageFile.h"
#include "ufw/PackageText.h"
#include "wizard/PackageError.h"

EPopup ChoosePopup(const CWizardState& state, unsigned nKeyState) {
    if (!state.m_strPackagePath.empty())
        return EPopup::Service;
    return nKeyState == (kKeyRButton | kKeyShift | kKeyControl) ? EPopup::Service : EPopup::Plain;
}

std::vector<CMenuItem> GetPopupItems(EPopup ePopup) {
    std::vector<CMenuItem> items;
    if (ePopup == EPopup::Service)
        items.push_back({kIdOpenPackage, "&Open..."});
    items.push_back({kIdSendFirmware, "&Send Firmware"});
    items.push_back({0, {}});
    items.push_back({kIdSelectPort, "Select &Port..."});
    // Window managers offer a program no place in the title-bar menu, so the About entry lives
    // at the end of the popups.
    const std::string strAbout = LoadString(kIdsAbout);
    if (!strAbout.empty()) {
        items.push_back({0, {}});
        items.push_back({kIdAbout, strAbout});
    }
    return items;
}

std::string FormatUpgradeFor(const std::string& strPackage) {
    return "Upgrade for " + strPackage;
}

const char* const kOpenStartSeparators = kPathSeparator == '\\' ? "\\/:" : "/";

void GetOpenStart(const std::string& strPackagePath, std::string& strFolder, std::string& strFile,
                  const char* pszSeparators) {
    // The path is UTF-8, where no byte of a multi-byte character can be taken for a separator.
    if (strPackagePath.empty()) {
        strFolder = GetProgramFolder();
        strFile.clear();
        return;
    }
    const size_t nSlash = strPackagePath.find_last_of(pszSeparators);
    if (nSlash == std::string::npos) {
        strFolder.clear();
        strFile = strPackagePath;
        return;
    }
    strFolder = strPackagePath.substr(0, nSlash + 1);
    strFile = strPackagePath.substr(nSlash + 1);
}

bool CServiceCommands::Run(unsigned nId) {
    switch (nId) {
    case kIdSelectPort:
        SelectPort();
        return true;
    case kIdSendFirmware:
        SendFirmware();
        return true;
    case kIdOpenPackage:
        OpenPackage();
        return true;
    default:
        return false;
    }
}

void CServiceCommands::SelectPort() {
    std::string strPort = m_state.m_strPort;
    if (!m_op.RunPortDialog(strPort))
        return;
    m_state.m_strPort = strPort;
    m_state.RefreshControls();
}

void CServiceCommands::SendFirmware() {
    if (m_machine.SendPackage() != 0)
        return; // sent, or the file error has been reported
    CMessage message;
    message.m_nId = kIdsTransmissionFailed;
    message.m_strText = LoadString(kIdsTransmissionFailed);
    message.m_eButtons = EButtons::Ok;
    m_op.ShowMessage(message);
}

void CServiceCommands::OpenPackage() {
    std::string strFolder;
    std::string strFile;
    GetOpenStart(m_state.m_strPackagePath, strFolder, strFile);
    std::string strChosen;
    if (!m_op.RunFileOpenDialog(strFolder, strFile, strChosen))
        return;
    // Checked at once, as the send will check it again: a file that does not read or is no
    // package is refused here with its first fault, and the package in force stays, path and
    // text, so the top line and the About box never name a package that will not go out.
    const CLoadedPackage loaded = LoadCheckedPackage(strChosen);
    if (loaded.m_eResult != EPackageLoad::Ok) {
        ReportUnsendablePackage(m_op, loaded, strChosen);
        return;
    }
    m_state.m_strPackagePath = strChosen;
    m_state.m_strPackage = PackageHeaderText(loaded.m_bytes.data(), loaded.m_bytes.size());
    m_state.RefreshControls();
}
