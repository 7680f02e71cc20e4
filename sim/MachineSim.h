#pragma once
// The simulated machine on one port: the cable (CPtyLink) and a thread that feeds what arrives to
// the machine's current mode. It starts in normal mode; the first 0x00 byte from the program puts
// it in boot mode for good (that byte and everything after it go to the boot mode).
//
// NOTE for the implementers: the serial helper builds this; device adds the normal mode and
// transfer the boot mode behind IMachineMode. Add to it freely, keep these signatures.
#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "sim/MachineMode.h"
#include "sim/PtyLink.h"

class CMachineSim {
public:
    CMachineSim();
    ~CMachineSim(); // Stop()

    // Modes may be null: a null mode records what arrives and answers nothing.
    void SetNormalMode(std::unique_ptr<IMachineMode> pMode);
    void SetBootMode(std::unique_ptr<IMachineMode> pMode);

    // Links the program's side as strPortsDir/comN and starts the thread.
    bool Start(const std::string& strPortsDir, int nCom);
    // Ends the thread and hangs up.
    void Stop();

    // The machine stops reading for nMilliseconds (flow control holds the program's writes off).
    void Stall(int nMilliseconds);
    bool IsInBootMode() const;

    CPtyLink& GetLink();
};
