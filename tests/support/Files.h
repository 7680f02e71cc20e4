#pragma once
// Bytes for the tests: files read and written whole, made-up data, what a command printed, and
// which descriptors point at a device.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

std::string ReadAll(const std::filesystem::path& path);
std::vector<uint8_t> ReadBytes(const std::filesystem::path& path);
void WriteBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

// Bytes that look like nothing in particular, with the values a line could swallow or change
// (XON, XOFF, CR, LF, 0x00, 0xFF, the boot mode's own 0x55 and 0xAA) among them.
std::vector<uint8_t> MakeBytes(size_t nCount, uint32_t nSeed);

// How many descriptors of this process are open on strDevice (the simulator keeps one itself).
int CountDeviceFds(const std::string& strDevice);

struct CCommandResult {
    int m_nExit = -1;
    std::string m_strOut;
    std::string m_strErr;
};

// Runs a command the way a person would, without input; args[0] is a program path and every
// argument is passed as it is, whatever it holds. The output goes through files in dir.
CCommandResult RunCommand(const std::filesystem::path& dir, const std::vector<std::string>& args);
