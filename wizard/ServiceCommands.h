#pragma once
// The commands of the context menu that a service technician uses beside the steps: choose the
// port by hand, send the firmware at once, choose another package file. None of them changes the
// step, the step text, the status text or the targets.
#include <string>
#include <vector>

#include "frontend/WizardState.h"
#include "wizard/StepMachine.h"

class IOperator;

// Command ids of the popup items.
constexpr unsigned kIdAbout = 16;
constexpr unsigned kIdSelectPort = 32771;
constexpr unsigned kIdSendFirmware = 32772;
constexpr unsigned kIdOpenPackage = 32773;

// Keys and buttons held with a mouse event, one bit each.
constexpr unsigned kKeyLButton = 0x01;
constexpr unsigned kKeyRButton = 0x02;
constexpr unsigned kKeyShift = 0x04;
constexpr unsigned kKeyControl = 0x08;
constexpr unsigned kKeyMButton = 0x10;
constexpr unsigned kKeyXButton1 = 0x20;
constexpr unsigned kKeyXButton2 = 0x40;

enum class EPopup { Plain, Service };

struct CMenuItem {
    unsigned m_nId; // 0: a separator
    std::string m_strText;
};

// The service popup while a package file is chosen, or for exactly right button + Shift + Ctrl.
EPopup ChoosePopup(const CWizardState& state, unsigned nKeyState);
// The items top to bottom; the About entry (kIdsAbout) closes both popups after a separator.
std::vector<CMenuItem> GetPopupItems(EPopup ePopup);

// "Upgrade for " and the package text: the About box's line.
std::string FormatUpgradeFor(const std::string& strPackage);

// What ends a folder in a package path: '/' on Linux, where '\\' and ':' are ordinary characters
// of a file name; on Windows a drive ("C:fw.ufw") and either slash.
extern const char* const kOpenStartSeparators;

// Where the file-open dialog starts: the folder of strPackagePath (ending in its last separator)
// and its file name, or the program's folder and no name when no package file is chosen.
void GetOpenStart(const std::string& strPackagePath, std::string& strFolder, std::string& strFile,
                  const char* pszSeparators = kOpenStartSeparators);

class CServiceCommands {
public:
    CServiceCommands(CWizardState& state, IOperator& op, CStepMachine& machine)
        : m_state(state), m_op(op), m_machine(machine) {}

    // Runs one command by id; false for an id that is no service command.
    bool Run(unsigned nId);

    void SelectPort();
    void SendFirmware();
    void OpenPackage();

private:
    CWizardState& m_state;
    IOperator& m_op;
    CStepMachine& m_machine;
};
