#pragma once
// The firmware transfer: the boot loader uploaded with the processor's boot-mode handshake at
// 9600 baud, then the package streamed at 38400 baud, with progress and Cancel.
#include <cstdint>
#include <string>
#include <vector>

#include "frontend/TransferEvents.h"
#include "serial/SerialPort.h"

class IOperator;

// Where a run stood when it ended (the last step entered), and why it failed: the window only needs
// 0, a front end without an operator at the bench names the cause.
enum class ETransferFault {
    None,
    OpenFailed, // m_openError says why
    NoLoader,   // the built-in loader is missing
    BadPackage, // the package could not be sized or read
    WrongReply, // m_nReceived where m_nExpected was due
    NoReply,    // nothing within the reply limit
    HungUp,     // the line went dead
    WriteFailed,
    Cancelled,
    // Every byte went to a device server that cannot tell whether the machine has them: not a
    // completed transit, and not a fault the operator could see on the machine either.
    Unconfirmed,
};
struct CTransferOutcome {
    ETransferFault m_eFault = ETransferFault::None;
    ETransferStep m_eStep = ETransferStep::Open;
    int m_nIndex = -1; // the loader byte, in the Loader step
    int m_nExpected = -1;
    int m_nReceived = -1;
    CPortError m_openError;
    std::string m_strGone; // HungUp: why the port went away, where the device can tell
};

struct CTransferOptions {
    // The window waits for each reply until the operator cancels; a run nobody watches gives up
    // after this many milliseconds instead (0: no limit).
    int m_nReplyLimitMs = 0;
    CTransferOutcome* m_pOutcome = nullptr; // filled when given
};

// pPackage: a chosen package as LoadCheckedPackage read and checked it, sent exactly as it is;
// nullptr for the built-in package.
// 1 when the loader was accepted and every piece of the package handed to the port; 0 on any
// failure or cancel. Shows no message of its own.
int TransferFirmware(const std::string& strPort, const std::vector<uint8_t>* pPackage,
                     IOperator& op);
// The same run with a limit on each reply wait and the cause of a failure told.
int TransferFirmwareWithOptions(const std::string& strPort, const std::vector<uint8_t>* pPackage,
                                IOperator& op, const CTransferOptions& options);
