#pragma once
// What the transfer needs of its progress dialog. Each window's progress dialog implements it, the
// command line's progress board too; tests record it. Destroying the sink is the dialog's
// destruction: it enables the main window again.
#include <cstdint>
#include <string>

#include "frontend/TransferEvents.h"

class IProgressSink {
public:
    virtual ~IProgressSink() = default;
    // Shows the dialog and disables the main window; non-zero when the window exists.
    virtual int Create() = 0;
    virtual void SetMessage(const std::string& strText) = 0;
    virtual void SetRange(int32_t nLower, int32_t nUpper) = 0;
    // Moves the bar and updates the percent label; a window may do so later, in order.
    virtual int SetPos(int32_t nPos) = 0;
    // Non-zero when the run is to stop: a press of Cancel since the last check (each press is
    // seen once), or at every check once there is no one left to show the run to (a window that
    // has gone, a command line interrupted). Called from the thread that runs the transfer.
    virtual int CheckCancel() = 0;

    // What the run is doing, for a front end that shows more than the bar; the dialog needs none
    // of it. Every step is entered in order until the run ends, from Open on.
    virtual void OnStepEntered(ETransferStep) {}
    // Bytes of the loader (eStep Loader, counted by echoes received) or of the package (eStep
    // Package, counted by pieces handed to the port) done so far: 0 of nTotal when the step
    // starts, then after every byte or piece, ending with nTotal of nTotal.
    virtual void OnBytesDone(ETransferStep /*eStep*/, int64_t /*nDone*/, int64_t /*nTotal*/) {}
};
