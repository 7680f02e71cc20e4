#pragma once
// The model and version query ("F;"), the model table, and port discovery over COM1 to COM4.
#include <cstdint>

struct CWizardState;
class IOperator;

// The four models the tool serves, in table order, ended by nullptr.
extern const char* const g_modelNames[];

// Asks the machine for its version and model and decides whether the upgrade goes on. Shows its
// own messages; writes the reply into the status text and sets the scanner flag.
bool CheckFirmwareVersion(CWizardState& state, IOperator& op, const char* pszPackageVersion);

// Finds the port on which a machine of the model table answers, else asks the operator.
// True when it has set the port name, false when it has emptied it.
bool DiscoverPort(CWizardState& state, IOperator& op);

// A reply timer in whole seconds of the monotonic clock.
class CReplyTimer {
public:
    CReplyTimer() { Restart(); }
    void Restart();
    // True when more than nSeconds whole seconds have passed since the last Restart.
    bool HasElapsed(int nSeconds) const;

private:
    int64_t m_nStart = 0;
};
