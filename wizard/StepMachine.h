#pragma once
// The chain of instruction steps and what Back and Next do on each. The machine keeps no step
// number: the wizard state's two targets are all it remembers, so whatever ran last is the step.
// No window here: texts and pictures go out through the wizard state and IStepPicture, questions
// to the operator through IOperator, so every path runs in a test with a scripted operator.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "frontend/WizardState.h"

class IOperator;

// The picture of the current step, as the step machine sees it; the window backs it with CDib.
class IStepPicture {
public:
    virtual ~IStepPicture() = default;
    virtual void Free() = 0;
    // Loads bitmap resource nId; the result is not looked at (a missing picture leaves it empty).
    virtual int Load(int nId) = 0;
};

// The two pieces of real work, as the step machine calls them. The window uses GetMachineLink();
// tests put a scripted device or transfer in their place.
struct CMachineLink {
    std::function<bool(CWizardState&, IOperator&, const char*)> m_fnCheckFirmwareVersion;
    std::function<int(const std::string&, const std::vector<uint8_t>*, IOperator&)>
        m_fnTransferFirmware;
};

// CheckFirmwareVersion and TransferFirmware themselves.
CMachineLink GetMachineLink();

struct CStepInfo {
    EStep m_eStep;
    unsigned m_nTextId;
    int m_nMillingBitmap;
    int m_nScannerBitmap;
    EStep m_eBack;
    EStep m_eNext;
};

// The row of eStep; nullptr for EStep::None.
const CStepInfo* FindStepInfo(EStep eStep);

class CStepMachine {
public:
    // pPicture may be null (no picture shown).
    CStepMachine(CWizardState& state, IOperator& op, IStepPicture* pPicture, CMachineLink link);

    // The wizard as its window opens: no port yet, the built-in package's version and header
    // text, the Start step.
    void Begin();

    // Enters one step's routine; 1, or 0 when the Upgrade step could not send the chosen file
    // (it would not open or read, or is no firmware package).
    int Enter(EStep eStep);

    void BackPressed();
    void NextPressed();

    void ShowStep(unsigned nTextId, int nMillingBitmap, int nScannerBitmap);

    // Reads and checks the chosen package file (if any), reports one that cannot be sent, runs
    // the transfer. Returns the transfer's result, or kNotSent when nothing went out and the
    // operator has already been told why (the file could not be opened or read, or is no
    // firmware package; the port was not opened).
    int SendPackage();
    static constexpr int kNotSent = -1;

private:
    // The row's targets, text and picture; the steps that do more call it for those too.
    void ShowRow(const CStepInfo& info);
    int EnterStart(const CStepInfo& info);
    int EnterVersionCheck(const CStepInfo& info);
    int EnterUpgrade(const CStepInfo& info);
    // The Upgrade step sent nothing: it stays on screen, Next tries it again and Back goes to
    // Plug-adapter. Every cause that stops it before the first byte ends here.
    int StayUnsent();
    int EnterTransferDone(const CStepInfo& info);
    void EnableButtons();

    CWizardState& m_state;
    IOperator& m_op;
    IStepPicture* m_pPicture;
    CMachineLink m_link;
};
