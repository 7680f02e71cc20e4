#pragma once
// A port for the tests: a pseudo-terminal linked as COM1 in a ports folder of its own, which
// CSerialPort finds through XDG_CONFIG_HOME like the operator's own link.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "sim/PtyLink.h"
#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"

class LinkFixture : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_link.Open(m_home.GetPortsDir(), 1)); }

    // Bytes from the program until nCount have come or nMilliseconds have passed.
    std::vector<uint8_t> ReceiveAtLeast(size_t nCount, int nMilliseconds = 5000) {
        std::vector<uint8_t> bytes;
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(nMilliseconds);
        while (bytes.size() < nCount && std::chrono::steady_clock::now() < deadline) {
            const std::vector<uint8_t> more = m_link.Receive(20);
            bytes.insert(bytes.end(), more.begin(), more.end());
        }
        return bytes;
    }

    CPortsHome m_home;
    CPtyLink m_link;
};

// Receive threads of this process right now (CSerialPort names them), by thread id.
inline std::set<std::string> ReceiveThreads() {
    std::set<std::string> ids;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(entry.path() / "comm");
        std::string strName;
        if (std::getline(comm, strName) && strName == "serial-receive")
            ids.insert(entry.path().filename().string());
    }
    return ids;
}
