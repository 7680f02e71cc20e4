// machine-sim: plays the machine on a pseudo-terminal linked into a ports folder as COMn, until
// SIGINT or SIGTERM; then tells how many bytes the program sent it.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "sim/MachineSim.h"
#include "sim/NormalMode.h"

namespace {

void Usage() {
    std::fprintf(stderr,
                 "usage: machine-sim --ports DIR --com N [--paced] [--reply TEXT] [--fault NAME]\n"
                 "                   [--port N=SPEC]...\n"
                 "  --reply TEXT   the machine's answer to F; (default \"V250 TVK-50;\")\n"
                 "  --fault NAME   silent, split, noterm, long, garbage or trickle\n"
                 "  --port N=SPEC  another port: machine, silent, absent, split, noterm, long,\n"
                 "                 garbage, trickle or reply:TEXT\n");
}

} // namespace

int main(int argc, char** argv) {
    std::string strPortsDir;
    int nCom = 0;
    bool bPaced = false;
    CNormalModeConfig normal;
    std::vector<std::pair<int, CPortSpec>> others;
    for (int i = 1; i < argc; ++i) {
        const std::string strArg = argv[i];
        if (strArg == "--ports" && i + 1 < argc) {
            strPortsDir = argv[++i];
        } else if (strArg == "--com" && i + 1 < argc) {
            nCom = std::atoi(argv[++i]);
        } else if (strArg == "--paced") {
            bPaced = true;
        } else if (strArg == "--reply" && i + 1 < argc) {
            normal.m_strReply = argv[++i];
        } else if (strArg == "--fault" && i + 1 < argc) {
            CPortSpec spec;
            if (!ParsePortSpec(argv[++i], spec) || spec.m_bAbsent) {
                Usage();
                return 2;
            }
            normal.m_eFault = spec.m_config.m_eFault;
        } else if (strArg == "--port" && i + 1 < argc) {
            const std::string strPort = argv[++i];
            const size_t nEquals = strPort.find('=');
            CPortSpec spec;
            if (nEquals == std::string::npos || std::atoi(strPort.c_str()) < 1 ||
                !ParsePortSpec(strPort.substr(nEquals + 1), spec)) {
                Usage();
                return 2;
            }
            others.emplace_back(std::atoi(strPort.c_str()), spec);
        } else {
            Usage();
            return 2;
        }
    }
    if (strPortsDir.empty() || nCom < 1) {
        Usage();
        return 2;
    }

    // Blocked before any thread starts, so every thread inherits the mask and sigwait gets them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    CMachineSim sim;
    sim.GetLink().SetPaced(bPaced);
    sim.SetNormalMode(std::make_unique<CNormalMode>(normal));
    if (!sim.Start(strPortsDir, nCom)) {
        std::fprintf(stderr, "machine-sim: cannot link COM%d in %s: %s\n", nCom,
                     strPortsDir.c_str(), std::strerror(errno));
        return 1;
    }
    std::printf("machine-sim: COM%d: is %s (linked as %s/com%d)\n", nCom,
                sim.GetLink().GetDevicePath().c_str(), strPortsDir.c_str(), nCom);
    std::vector<std::unique_ptr<CMachineSim>> otherSims;
    for (const auto& [nOther, spec] : others) {
        std::unique_ptr<CMachineSim> pOther;
        if (!StartPort(strPortsDir, nOther, spec, pOther)) {
            std::fprintf(stderr, "machine-sim: cannot link COM%d in %s\n", nOther,
                         strPortsDir.c_str());
            return 1;
        }
        if (pOther) {
            std::printf("machine-sim: COM%d: is %s\n", nOther,
                        pOther->GetLink().GetDevicePath().c_str());
            otherSims.push_back(std::move(pOther));
        } else {
            std::printf("machine-sim: COM%d: is absent\n", nOther);
        }
    }
    std::fflush(stdout);

    int nSignal = 0;
    sigwait(&signals, &nSignal);
    const size_t nReceived = sim.GetLink().GetRecord().size();
    sim.Stop();
    std::printf("machine-sim: received %zu bytes\n", nReceived);
    return 0;
}
