#pragma once
// The model and version query ("F;"), the model table, and port discovery over COM1 to COM4 and
// then the ports above COM4 this computer has.
#include <cstdint>
#include <functional>
#include <string>
#include <system_error>

#include "serial/SerialPort.h"

struct CWizardState;
class IOperator;

// The four models the tool serves, in table order, ended by nullptr.
extern const char* const g_modelNames[];

// How a device check ended.
enum class ECheckVerdict {
    UpgradeNeeded, // a model of the table with a version older than the package's
    Unnecessary,   // a model of the table, already at the package's version or later
    WrongModel,    // a usable reply naming a model outside the table
    UnusableReply, // bytes came, but no version and model could be read from them
    NoReply,       // nothing came before the gap (or only what a zero byte cuts off)
    PortFailed,    // the port would not open (m_portError says why)
    NothingFound,  // no port given, no port of the list answered, and none was chosen
    Cancelled,     // the caller's cancel was seen between two queries
};

// What the check learnt, beside the message it showed: the record a front end renders.
struct CCheckOutcome {
    ECheckVerdict m_eVerdict = ECheckVerdict::PortFailed;
    std::string m_strPort;    // the port used or found ("COM2:"); empty when none was found
    std::string m_strReply;   // the last reply as collected (bytes before the ';')
    std::string m_strModel;   // as the reply was split once; empty when it was unusable
    std::string m_strVersion; // likewise
    CPortError m_portError;   // when the port failed
    // Discovery's list ended at COMn (4 when nothing above COM4 was listed); 0 without discovery.
    int m_nSearchedUpTo = 0;
    // The ports folder that could not be read, and why (the verdict is then PortFailed).
    std::string m_strFolder;
    std::error_code m_folderError;
};

// Asks the machine for its version and model and decides whether the upgrade goes on. Shows its
// own messages; writes the reply into the status text and sets the scanner flag.
bool CheckFirmwareVersion(CWizardState& state, IOperator& op, const char* pszPackageVersion);
// The same check with its outcome. fnCancelled, when given, is asked on the calling thread while
// the machine is waited for, a few times a second, and before each port is opened and each retry:
// the check then ends within a moment, its port closed. A cancelled check shows no message and
// keeps no port name.
CCheckOutcome RunDeviceCheck(CWizardState& state, IOperator& op, const char* pszPackageVersion,
                             const std::function<bool()>& fnCancelled = {});

// One question as the check asks it: opens strPort at the query's settings, writes "F;",
// collects the reply by the check's rules (up to the first ';', 255 bytes, or a gap of more than
// three seconds) and closes. False when the port would not open; error then says why.
bool AskVersion(const std::string& strPort, IOperator& op, std::string& strReply,
                CPortError& error);

// Finds the port on which a machine of the model table answers, else asks the operator.
// COM1 to COM4 are asked one after another; the ports above them all at once, each on a port
// object of its own, and the lowest-numbered that answers wins, as it would in turn.
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
