// Echo round trip on a pseudo-terminal pair: the simulator sends a byte, the program's receive
// thread stores it, the program's loop wakes from WaitForByte, takes it and writes it back.
// Prints the turnaround seen by the simulator (median, 99th percentile) and the CPU time of the
// whole process as a share of the wall time, unpaced and paced at 9600, each without and with a
// wire trace.
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "serial/SerialPort.h"
#include "serial/WireTrace.h"
#include "sim/PtyLink.h"
#include "tests/support/TempDir.h"

using Clock = std::chrono::steady_clock;

namespace {

constexpr int kBytes = 3000;

double CpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

struct CResult {
    double m_dMedianUs = 0;
    double m_d99Us = 0;
    double m_dCpuShare = 0;
    double m_dWallS = 0;
    int m_nLost = 0;
    int m_nWrong = 0;
};

CResult Run(const std::string& strPortsDir, uint32_t nBaud, bool bPaced, bool bTrace) {
    CResult result;
    CWireTrace trace;
    CPtyLink link;
    if (!link.Open(strPortsDir, 1)) {
        std::fprintf(stderr, "cannot open a pseudo-terminal pair\n");
        std::exit(1);
    }
    CSerialPort port;
    port.SetTrace(bTrace ? &trace : nullptr);
    if (!port.Open("COM1:", nBaud, "N81")) {
        std::fprintf(stderr, "cannot open COM1: at %u: %s (%s)\n", nBaud,
                     std::strerror(port.GetOpenError().m_nErrno),
                     port.GetOpenError().m_strDevice.c_str());
        std::exit(1);
    }

    // The program's side: the polling loop of a caller, resting in WaitForByte between polls.
    std::atomic<bool> bStop{false};
    std::thread program([&] {
        while (!bStop) {
            if (!port.WaitForByte(100))
                continue;
            int nByte;
            while ((nByte = port.ReadByte()) >= 0)
                port.WriteByte(nByte);
        }
    });

    std::vector<double> turnaround;
    turnaround.reserve(kBytes);
    const double dCpuStart = CpuSeconds();
    const auto wallStart = Clock::now();
    size_t nReceived = 0;
    for (int i = 0; i < kBytes; ++i) {
        const uint8_t nByte = static_cast<uint8_t>(i);
        // Paced, the byte reaches the program one wire time after the machine starts it; the
        // turnaround is counted from that moment, as from the write in the unpaced case.
        if (bPaced)
            std::this_thread::sleep_for(std::chrono::nanoseconds(10000000000LL / nBaud));
        const auto sent = Clock::now();
        link.Send(nByte);
        // The echo of this byte is the (i+1)-th byte back, and it must be this byte.
        while (nReceived < size_t(i) + 1 && Clock::now() - sent < std::chrono::seconds(1)) {
            const std::vector<uint8_t> bytes = link.Receive(100);
            for (uint8_t nEcho : bytes) {
                if (nEcho != static_cast<uint8_t>(nReceived))
                    ++result.m_nWrong;
                ++nReceived;
            }
        }
        if (nReceived < size_t(i) + 1) {
            ++result.m_nLost;
            nReceived = size_t(i) + 1;
            continue;
        }
        turnaround.push_back(
            std::chrono::duration<double, std::micro>(Clock::now() - sent).count());
    }
    result.m_dWallS = std::chrono::duration<double>(Clock::now() - wallStart).count();
    result.m_dCpuShare = (CpuSeconds() - dCpuStart) / result.m_dWallS;
    bStop = true;
    program.join();
    port.Close();

    std::sort(turnaround.begin(), turnaround.end());
    if (!turnaround.empty()) {
        result.m_dMedianUs = turnaround[turnaround.size() / 2];
        result.m_d99Us = turnaround[turnaround.size() * 99 / 100];
    }
    return result;
}

void Print(const char* pszName, const CResult& result) {
    std::printf("%-34s median %8.1f us   p99 %8.1f us   CPU %5.1f %% of one core   "
                "(%d bytes in %.2f s, %d lost, %d wrong)\n",
                pszName, result.m_dMedianUs, result.m_d99Us, result.m_dCpuShare * 100, kBytes,
                result.m_dWallS, result.m_nLost, result.m_nWrong);
}

} // namespace

int main() {
    const CPortsHome home;
    const std::string strPortsDir = home.GetPortsDir();

    std::printf("echo round trip over %d bytes, turnaround as the machine sees it\n", kBytes);
    std::fflush(stdout);
    // Unpaced: the program's wire-time floor is negligible at 4 Mbaud, so this is the link's own
    // reaction time (receive thread, wake-up, take, write).
    // Each case also with a wire trace: what recording every byte adds to the reaction.
    Print("unpaced (program at 4000000 baud)", Run(strPortsDir, 4000000, false, false));
    Print("  with a wire trace", Run(strPortsDir, 4000000, false, true));
    // At 9600 the program's write of the echo lasts its 1.04 ms on the wire; unpaced, the next
    // byte is waiting before that ends.
    Print("unpaced, program at 9600", Run(strPortsDir, 9600, false, false));
    Print("  with a wire trace", Run(strPortsDir, 9600, false, true));
    // Paced: the machine's bytes arrive one wire time (1.04 ms) after it starts sending them.
    Print("paced at 9600", Run(strPortsDir, 9600, true, false));
    Print("  with a wire trace", Run(strPortsDir, 9600, true, true));
    return 0;
}
