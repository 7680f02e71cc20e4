#pragma once
// Firmware packages made to measure: records as the package stores them, and small well-formed
// packages that pass the check a chosen file goes through and take moments to send.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A record as stored: "B", type, count, address (nAddressLength bytes, big-endian), data and
// the right checksum.
std::vector<uint8_t> MakePackageRecord(char cType, uint32_t nAddress, size_t nAddressLength,
                                       const std::vector<uint8_t>& data);

// A package of one section made of these records, with the right section length; strHeader is
// the 22-character header text.
std::vector<uint8_t> MakePackage(const std::vector<std::vector<uint8_t>>& records,
                                 const std::string& strHeader = "TVK35/50 NRP7/70  V261");

// A well-formed package of one section holding nDataBytes (MakeBytes(nDataBytes, nSeed)) in data
// records of 16 bytes from address 0x1000.
std::vector<uint8_t> MakeSmallPackage(size_t nDataBytes, uint32_t nSeed);
