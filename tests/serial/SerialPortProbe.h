#pragma once
// What the serial tests look at beside the port's own interface: its buffer's fill, its receive
// thread, the process's processor time, and the bytes a port has taken.
#include <time.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "serial/SerialPort.h"
#include "tests/support/Files.h"
#include "tests/support/LinkFixture.h"

class CSerialPortProbe {
public:
    static int CountStored(const CSerialPort& port) { return port.CountStored(); }
};

// The one receive thread running, "" when there is none or more than one.
inline std::string TheReceiveThread() {
    const std::set<std::string> ids = ReceiveThreads();
    return ids.size() == 1 ? *ids.begin() : "";
}

inline int64_t ProcessCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Takes bytes until nCount have come or nothing more arrives for nQuietMs.
inline std::vector<uint8_t> TakeAll(CSerialPort& port, size_t nCount, int nQuietMs = 3000) {
    std::vector<uint8_t> got;
    while (got.size() < nCount && port.WaitForByte(nQuietMs)) {
        int nByte;
        while ((nByte = port.ReadByte()) >= 0)
            got.push_back(static_cast<uint8_t>(nByte));
    }
    return got;
}
