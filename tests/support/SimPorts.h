#pragma once
// A private ports folder with simulated machines on COM1 to COM4, and on request on COM5 to
// COM16 (a USB adapter's numbers); the computer's own serial ports are kept out of the port map
// from the first CSimPorts on. The test process points
// XDG_CONFIG_HOME at a folder of its own, so "COMn:" opens the simulator's pseudo-terminal and
// never a real serial port of the computer: a port without a machine is a link to nowhere.
#include <array>
#include <memory>
#include <string>

#include "sim/BootMode.h"
#include "sim/MachineSim.h"
#include "sim/NormalMode.h"

// Call before anything opens a port; the folder lives until the process ends. Messages are in
// English there, whatever the test's own locale.
const std::string& TestPortsDir();

// A machine in boot mode behaving so, started on COMn of the ports folder; nullptr when the
// simulator could not start. The mode lives as long as the simulator.
CBootMode* StartBootMode(CMachineSim& sim, const std::string& strPortsDir, int nCom,
                         const CBootMode::CBehaviour& behaviour = {});

class CSimPorts {
public:
    CSimPorts();
    ~CSimPorts();
    CSimPorts(const CSimPorts&) = delete;
    CSimPorts& operator=(const CSimPorts&) = delete;

    // A machine on COMn answering as configured.
    CNormalMode& Machine(int nCom, const CNormalModeConfig& config = {});
    CNormalMode& Machine(int nCom, const std::string& strReply,
                         ENormalFault eFault = ENormalFault::None);
    // Nothing on COMn: the link points at a device that does not exist. Above COM4 the link goes,
    // so the port is not listed at all.
    void Absent(int nCom);
    // COMn pointed at any path (a pseudo-terminal the test made itself).
    void LinkTo(int nCom, const std::string& strDevice);

    CMachineSim& Sim(int nCom) { return *m_sims[nCom - 1]; }
    CNormalMode& Mode(int nCom) { return *m_modes[nCom - 1]; }
    static std::string LinkPath(int nCom);

private:
    static constexpr int kHighestCom = 16;
    std::array<std::unique_ptr<CMachineSim>, kHighestCom> m_sims;
    std::array<CNormalMode*, kHighestCom> m_modes{};
};
