#pragma once
// A port for the tests: a pseudo-terminal linked as COM1 in a ports folder of its own, which
// CSerialPort finds through XDG_CONFIG_HOME like the operator's own link.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "sim/PtyLink.h"

class CTempConfig {
public:
    CTempConfig() {
        char szTemplate[] = "/tmp/versionup-test-XXXXXX";
        m_strRoot = mkdtemp(szTemplate);
        setenv("XDG_CONFIG_HOME", m_strRoot.c_str(), 1);
    }
    ~CTempConfig() {
        std::error_code ec;
        std::filesystem::remove_all(m_strRoot, ec);
    }
    std::string GetPortsDir() const { return m_strRoot + "/versionup/ports"; }
    const std::string& GetRoot() const { return m_strRoot; }

private:
    std::string m_strRoot;
};

class LinkFixture : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_link.Open(m_config.GetPortsDir(), 1)); }

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

    CTempConfig m_config;
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

inline int64_t ElapsedMs(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}
