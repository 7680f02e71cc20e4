// The package inspector on packages no generator would write.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "PackageInspector.h"

namespace {

// A record as stored: "B", type, count, address, data, checksum.
std::vector<uint8_t> Record(char cType, uint32_t nAddress, size_t nAddressLength,
                            const std::vector<uint8_t>& data) {
    std::vector<uint8_t> body{static_cast<uint8_t>(nAddressLength + data.size() + 1)};
    for (size_t i = nAddressLength; i-- > 0;)
        body.push_back(static_cast<uint8_t>(nAddress >> (8 * i)));
    body.insert(body.end(), data.begin(), data.end());
    unsigned nSum = 0;
    for (uint8_t b : body)
        nSum += b;
    std::vector<uint8_t> record{'B', static_cast<uint8_t>(cType)};
    record.insert(record.end(), body.begin(), body.end());
    record.push_back(static_cast<uint8_t>(~nSum));
    return record;
}

// A package of one section made of the given records, with the right section length.
std::vector<uint8_t> Package(const std::vector<std::vector<uint8_t>>& records) {
    std::string str = "PUF14303  TVK35/50 NRP7/70  V2600002F94F";
    size_t nText = 0;
    std::string strRecords;
    for (const auto& r : records) {
        nText += 2 + 2 * (r[2] + 1) + 1;
        strRecords.append(r.begin(), r.end());
    }
    char szLength[9];
    std::snprintf(szLength, sizeof szLength, "%08zX", nText);
    str += szLength + strRecords + "9631PUFE";
    return {str.begin(), str.end()};
}

TEST(PackageInspectorInput, DataRunningPastTheTopOfMemoryStopsThere) {
    // A 4-byte address near the top: the record's last byte would lie beyond 0xFFFFFFFF.
    const std::vector<uint8_t> bytes = Package({
        Record('0', 0, 2, {'w', 'i', 'd', 'e', ' ', ' ', ' ', ' ', 'm', 'o', 't'}),
        Record('3', 0xFFFFFFF8, 4, std::vector<uint8_t>(16, 0x55)),
        Record('7', 0, 4, {}),
    });
    const CPackageReport report = InspectPackage(bytes);
    ASSERT_EQ(report.m_sections.size(), 1u);
    const CPackageSection& section = report.m_sections[0];
    ASSERT_EQ(section.m_memory.size(), 1u);
    EXPECT_EQ(section.m_memory[0], (CAddressRange{0xFFFFFFF8, 0xFFFFFFFF}));
    EXPECT_NE(FormatPackageReport(report).find("0xFFFFFFF8 to 0xFFFFFFFF, 8 bytes"),
              std::string::npos)
        << FormatPackageReport(report);
}

} // namespace
