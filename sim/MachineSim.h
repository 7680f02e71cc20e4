#pragma once
// The simulated machine on one port: the cable (CPtyLink) and a thread that feeds what arrives to
// the machine's current mode. It starts in normal mode; the first 0x00 byte from the program puts
// it in boot mode for good (that byte and everything after it go to the boot mode). Tests,
// benchmarks and machine-sim give it its two modes, start it on a port, hold it still when a
// stall is wanted, and read what it received through its link.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

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

private:
    void Run();
    void Dispatch(const std::vector<uint8_t>& bytes);

    CPtyLink m_link;
    std::thread m_thread;
    std::atomic<bool> m_bStop{false};
    std::atomic<bool> m_bBootMode{false};
    std::atomic<int64_t> m_nStallUntilMs{0};
    std::atomic<uint64_t> m_nPasses{0}; // turns of the thread's loop, so Stall knows it is seen
    std::mutex m_modeMutex;             // the two modes; held while one of them answers
    std::unique_ptr<IMachineMode> m_pNormalMode;
    std::unique_ptr<IMachineMode> m_pBootMode;
};
