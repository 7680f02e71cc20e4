#include "TransferHarness.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <random>

namespace transfer_test {

std::vector<uint8_t> MakeBytes(size_t nCount, uint32_t nSeed) {
    std::mt19937 random(nSeed);
    std::vector<uint8_t> bytes(nCount);
    for (uint8_t& b : bytes)
        b = static_cast<uint8_t>(random());
    static const uint8_t kAwkward[] = {0x11, 0x13, 0x0D, 0x0A, 0x00, 0xFF, 0x55, 0xAA, 0x7F, 0x03};
    for (size_t i = 0; i < nCount && i < sizeof kAwkward; ++i)
        bytes[(i * 7 + 3) % nCount] = kAwkward[i];
    return bytes;
}

bool WaitUntil(const std::function<bool()>& fnDone, int nMilliseconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(nMilliseconds);
    while (!fnDone()) {
        if (std::chrono::steady_clock::now() > end)
            return fnDone();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

int CountDeviceFds(const std::string& strDevice) {
    int nCount = 0;
    std::error_code error;
    const auto device = std::filesystem::canonical(strDevice, error);
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
        std::error_code linkError;
        const auto target = std::filesystem::read_symlink(entry.path(), linkError);
        if (!linkError && (target == strDevice || (!device.empty() && target == device)))
            ++nCount;
    }
    return nCount;
}

CPortsHome::CPortsHome() {
    char szTemplate[] = "/tmp/transfer-test-XXXXXX";
    m_strRoot = ::mkdtemp(szTemplate);
    m_strPortsDir = m_strRoot + "/versionup/ports";
    std::filesystem::create_directories(m_strPortsDir);
    if (const char* pszOld = std::getenv("XDG_CONFIG_HOME")) {
        m_bHadConfig = true;
        m_strOldConfig = pszOld;
    }
    ::setenv("XDG_CONFIG_HOME", m_strRoot.c_str(), 1);
}

CPortsHome::~CPortsHome() {
    if (m_bHadConfig)
        ::setenv("XDG_CONFIG_HOME", m_strOldConfig.c_str(), 1);
    else
        ::unsetenv("XDG_CONFIG_HOME");
    std::error_code error;
    std::filesystem::remove_all(m_strRoot, error);
}

void CPortsHome::MakeAbsent(int nCom) {
    Relink(nCom, m_strRoot + "/no-such-device");
}

void CPortsHome::Relink(int nCom, const std::string& strDevice) {
    const std::string strLink = m_strPortsDir + "/com" + std::to_string(nCom);
    std::error_code error;
    std::filesystem::remove(strLink, error);
    std::filesystem::create_symlink(strDevice, strLink, error);
}

} // namespace transfer_test
