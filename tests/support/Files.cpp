#include "tests/support/Files.h"

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>

std::string ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<uint8_t> ReadBytes(const std::filesystem::path& path) {
    const std::string str = ReadAll(path);
    return {str.begin(), str.end()};
}

void WriteBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

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

CCommandResult RunCommand(const std::filesystem::path& dir, const std::vector<std::string>& args) {
    std::string strCommand;
    for (const std::string& arg : args) {
        strCommand += " '";
        for (char c : arg)
            strCommand += c == '\'' ? std::string("'\\''") : std::string(1, c);
        strCommand += "'";
    }
    const std::filesystem::path out = dir / ".stdout", err = dir / ".stderr";
    strCommand += " >'" + out.string() + "' 2>'" + err.string() + "' </dev/null";
    const int nStatus = std::system(strCommand.c_str());
    CCommandResult result;
    result.m_nExit = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
    result.m_strOut = ReadAll(out);
    result.m_strErr = ReadAll(err);
    std::filesystem::remove(out);
    std::filesystem::remove(err);
    return result;
}
