// The package inspector on packages no generator would write.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ufw/PackageInspector.h"
#include "tests/support/Packages.h"

namespace {

TEST(PackageInspectorInput, DataRunningPastTheTopOfMemoryStopsThere) {
    // A 4-byte address near the top: the record's last byte would lie beyond 0xFFFFFFFF.
    const std::vector<uint8_t> bytes = MakePackage({
        MakePackageRecord('0', 0, 2, {'w', 'i', 'd', 'e', ' ', ' ', ' ', ' ', 'm', 'o', 't'}),
        MakePackageRecord('3', 0xFFFFFFF8, 4, std::vector<uint8_t>(16, 0x55)),
        MakePackageRecord('7', 0, 4, {}),
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
