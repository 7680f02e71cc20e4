// machine-sim: plays the machine on a pseudo-terminal linked into a ports folder as COMn, until
// SIGINT or SIGTERM; then tells how many bytes the program sent it.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "sim/MachineSim.h"

namespace {

void Usage() {
    std::fprintf(stderr, "usage: machine-sim --ports DIR --com N [--paced]\n");
}

} // namespace

int main(int argc, char** argv) {
    std::string strPortsDir;
    int nCom = 0;
    bool bPaced = false;
    for (int i = 1; i < argc; ++i) {
        const std::string strArg = argv[i];
        if (strArg == "--ports" && i + 1 < argc) {
            strPortsDir = argv[++i];
        } else if (strArg == "--com" && i + 1 < argc) {
            nCom = std::atoi(argv[++i]);
        } else if (strArg == "--paced") {
            bPaced = true;
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
    if (!sim.Start(strPortsDir, nCom)) {
        std::fprintf(stderr, "machine-sim: cannot link COM%d in %s: %s\n", nCom,
                     strPortsDir.c_str(), std::strerror(errno));
        return 1;
    }
    std::printf("machine-sim: COM%d: is %s (linked as %s/com%d)\n", nCom,
                sim.GetLink().GetDevicePath().c_str(), strPortsDir.c_str(), nCom);
    std::fflush(stdout);

    int nSignal = 0;
    sigwait(&signals, &nSignal);
    const size_t nReceived = sim.GetLink().GetRecord().size();
    sim.Stop();
    std::printf("machine-sim: received %zu bytes\n", nReceived);
    return 0;
}
