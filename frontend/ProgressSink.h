#pragma once
// What the transfer needs of its progress dialog. The Qt dialog implements it; tests record it.
// Destroying the sink is the dialog's destruction: it enables the main window again.
#include <cstdint>
#include <string>

class IProgressSink {
public:
    virtual ~IProgressSink() = default;
    // Shows the dialog and disables the main window; non-zero when the window exists.
    virtual int Create() = 0;
    virtual void SetMessage(const std::string& strText) = 0;
    virtual void SetRange(int32_t nLower, int32_t nUpper) = 0;
    // Moves the bar and updates the percent label; a window may do so later, in order.
    virtual int SetPos(int32_t nPos) = 0;
    // Returns and clears the cancel flag; called from the thread that runs the transfer.
    virtual int CheckCancel() = 0;
};
