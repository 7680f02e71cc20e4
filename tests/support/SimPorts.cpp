#include "tests/support/SimPorts.h"

#include <stdlib.h>

#include <cstdlib>

#include "ports/PortMap.h"
#include "tests/support/TempDir.h"

namespace {

CPortsHome& TestPortsHome() {
    static CPortsHome home;
    return home;
}

} // namespace

const std::string& TestPortsDir() {
    static const std::string strDir = [] {
        setenv("LANG", "C", 1);
        unsetenv("LC_ALL");
        unsetenv("LC_MESSAGES");
        return TestPortsHome().GetPortsDir();
    }();
    return strDir;
}

CBootMode* StartBootMode(CMachineSim& sim, const std::string& strPortsDir, int nCom,
                         const CBootMode::CBehaviour& behaviour) {
    auto pBoot = std::make_unique<CBootMode>(behaviour);
    CBootMode* pMode = pBoot.get();
    sim.SetBootMode(std::move(pBoot));
    return sim.Start(strPortsDir, nCom) ? pMode : nullptr;
}

CSimPorts::CSimPorts() {
    // The computer's own serial ports would be the ports above COM4.
    SetSystemDeviceRoots("/nonexistent/dev", "/nonexistent/sys");
    for (int n = 1; n <= 4; ++n)
        Absent(n);
}

CSimPorts::~CSimPorts() {
    for (int n = 1; n <= kHighestCom; ++n)
        Absent(n);
}

CNormalMode& CSimPorts::Machine(int nCom, const CNormalModeConfig& config) {
    Absent(nCom);
    auto pMode = std::make_unique<CNormalMode>(config);
    CNormalMode& mode = *pMode;
    auto& pSim = m_sims[nCom - 1];
    pSim = std::make_unique<CMachineSim>();
    pSim->SetNormalMode(std::move(pMode));
    std::error_code ec;
    std::filesystem::remove(LinkPath(nCom), ec);
    if (!pSim->Start(TestPortsDir(), nCom))
        std::abort();
    m_modes[nCom - 1] = &mode;
    return mode;
}

CNormalMode& CSimPorts::Machine(int nCom, const std::string& strReply, ENormalFault eFault) {
    CNormalModeConfig config;
    config.m_strReply = strReply;
    config.m_eFault = eFault;
    return Machine(nCom, config);
}

void CSimPorts::Absent(int nCom) {
    if (m_sims[nCom - 1]) {
        m_sims[nCom - 1]->Stop();
        m_sims[nCom - 1].reset();
        m_modes[nCom - 1] = nullptr;
    }
    TestPortsDir();
    if (nCom <= 4) {
        TestPortsHome().MakeAbsent(nCom);
        return;
    }
    std::error_code ec;
    std::filesystem::remove(TestPortsHome().LinkPath(nCom), ec);
}

void CSimPorts::LinkTo(int nCom, const std::string& strDevice) {
    Absent(nCom);
    TestPortsHome().Relink(nCom, strDevice);
}

std::string CSimPorts::LinkPath(int nCom) {
    TestPortsDir();
    return TestPortsHome().LinkPath(nCom);
}
