#pragma once
// The person at the bench, as the logic sees them: message boxes, the wait cursor, the port and
// file dialogs, the progress dialog. Each window implements it (Qt on Linux, Win32 on Windows),
// the command line answers for an operator who is not there, and tests script it.
#include <memory>
#include <string>

#include "frontend/ProgressSink.h"

class IWireTrace;

// Results of a message box, as the platform numbers them.
constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;
constexpr int kIdRetry = 4;

enum class EButtons { Ok, RetryCancel };

struct CMessage {
    unsigned m_nId = 0;    // string id, or 0 for a text made elsewhere (file errors)
    std::string m_strText; // the text shown, exactly
    // Secondary text for the Linux operator (device, OS cause); may be empty.
    std::string m_strDetail;
    EButtons m_eButtons = EButtons::Ok;
};

class IOperator {
public:
    virtual ~IOperator() = default;
    // Modal box captioned with the application title, no icon; returns kIdOk, kIdRetry or
    // kIdCancel.
    virtual int ShowMessage(const CMessage& message) = 0;
    virtual void BeginWaitCursor() = 0;
    virtual void EndWaitCursor() = 0;
    // The port dialog preset with strPort; true on OK with the chosen port in strPort.
    virtual bool RunPortDialog(std::string& strPort) = 0;
    // The file-open dialog starting in strFolder with strFile; true on OK with the full path.
    virtual bool RunFileOpenDialog(const std::string& strFolder, const std::string& strFile,
                                   std::string& strChosen) = 0;
    // A new progress dialog for one transfer run (not yet created).
    virtual std::unique_ptr<IProgressSink> CreateProgress() = 0;
    // Where the ports the operation opens report what crosses them; nullptr when nobody asked
    // for a trace.
    virtual IWireTrace* GetWireTrace() { return nullptr; }
    // Whether the operator has asked to end the check under way (Esc or the close box while the
    // machine is asked). Asked from the thread that runs the check, so it must not wait for the
    // window.
    virtual bool IsCancelled() { return false; }
};
