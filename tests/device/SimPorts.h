#pragma once
// A private ports folder with simulated machines on COM1 to COM4. The test process points
// XDG_CONFIG_HOME at a folder of its own, so "COMn:" opens the simulator's pseudo-terminal and
// never a real serial port of the computer: a port without a machine is a link to nowhere.
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <memory>
#include <string>

#include "sim/MachineSim.h"
#include "sim/NormalMode.h"

// Call before anything opens a port; the folder lives until the process ends.
inline const std::string& TestPortsDir() {
    static const std::string strDir = [] {
        char szTemplate[] = "/tmp/versionup-device-XXXXXX";
        const char* pszRoot = ::mkdtemp(szTemplate);
        if (!pszRoot)
            std::abort();
        // Readable by everyone: one test opens the ports as an unprivileged user.
        ::chmod(pszRoot, 0755);
        ::setenv("XDG_CONFIG_HOME", pszRoot, 1);
        ::setenv("LANG", "C", 1);
        ::unsetenv("LC_ALL");
        ::unsetenv("LC_MESSAGES");
        std::string strPorts = std::string(pszRoot) + "/versionup/ports";
        std::filesystem::create_directories(strPorts);
        std::filesystem::permissions(std::string(pszRoot) + "/versionup",
                                     std::filesystem::perms::others_read |
                                         std::filesystem::perms::others_exec,
                                     std::filesystem::perm_options::add);
        std::filesystem::permissions(
            strPorts, std::filesystem::perms::others_read | std::filesystem::perms::others_exec,
            std::filesystem::perm_options::add);
        static struct CCleanup {
            std::string m_strRoot;
            ~CCleanup() {
                std::error_code ec;
                std::filesystem::remove_all(m_strRoot, ec);
            }
        } cleanup{pszRoot};
        return strPorts;
    }();
    return strDir;
}

class CSimPorts {
public:
    CSimPorts() {
        for (int n = 1; n <= 4; ++n)
            Absent(n);
    }
    ~CSimPorts() {
        for (int n = 1; n <= 4; ++n)
            Absent(n);
    }

    // A machine on COMn answering as configured.
    CNormalMode& Machine(int nCom, const CNormalModeConfig& config = {}) {
        Unlink(nCom);
        auto pMode = std::make_unique<CNormalMode>(config);
        CNormalMode& mode = *pMode;
        auto& pSim = m_sims[nCom - 1];
        pSim = std::make_unique<CMachineSim>();
        pSim->SetNormalMode(std::move(pMode));
        if (!pSim->Start(TestPortsDir(), nCom))
            std::abort();
        m_modes[nCom - 1] = &mode;
        return mode;
    }
    CNormalMode& Machine(int nCom, const std::string& strReply,
                         ENormalFault eFault = ENormalFault::None) {
        CNormalModeConfig config;
        config.m_strReply = strReply;
        config.m_eFault = eFault;
        return Machine(nCom, config);
    }

    // Nothing on COMn: the link points at a device that does not exist.
    void Absent(int nCom) {
        if (m_sims[nCom - 1]) {
            m_sims[nCom - 1]->Stop();
            m_sims[nCom - 1].reset();
            m_modes[nCom - 1] = nullptr;
        }
        Unlink(nCom);
        std::filesystem::create_symlink("/nonexistent/ttyUSB" + std::to_string(nCom - 1),
                                        LinkPath(nCom));
    }

    // COMn pointed at any path (a pseudo-terminal the test made itself).
    void LinkTo(int nCom, const std::string& strDevice) {
        Absent(nCom);
        Unlink(nCom);
        std::filesystem::create_symlink(strDevice, LinkPath(nCom));
    }

    CMachineSim& Sim(int nCom) { return *m_sims[nCom - 1]; }
    CNormalMode& Mode(int nCom) { return *m_modes[nCom - 1]; }
    static std::string LinkPath(int nCom) { return TestPortsDir() + "/com" + std::to_string(nCom); }

private:
    static void Unlink(int nCom) {
        std::error_code ec;
        std::filesystem::remove(LinkPath(nCom), ec);
    }

    std::array<std::unique_ptr<CMachineSim>, 4> m_sims;
    std::array<CNormalMode*, 4> m_modes{};
};
