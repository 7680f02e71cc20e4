// The reader's report on packages made to show one thing each: a section name longer than a
// line buffer, and what may follow the end tag.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ufw/PackageInspector.h"
#include "tests/support/Packages.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes PackageNamed(const std::string& strName) {
    return MakePackage({MakePackageRecord('0', 0, 2, Bytes(strName.begin(), strName.end())),
                        MakePackageRecord('1', 0x1000, 2, Bytes(16, 0x5A)),
                        MakePackageRecord('9', 0x1000, 2, {})});
}

TEST(PackageReport, ALongSectionNameKeepsItsWholeLine) {
    const std::string strName(250, 'n');
    const CPackageReport report = InspectPackage(PackageNamed(strName));
    ASSERT_TRUE(report.IsWellFormed()) << FormatPackageReport(report);
    const std::string strText = FormatPackageReport(report);
    EXPECT_NE(strText.find("section 1    \"" + strName + "\" at offset 40\n  length     "),
              std::string::npos)
        << strText;
}

TEST(PackageReport, PaddingAfterTheEndTagIsNamedAndNothingElseMayFollow) {
    const Bytes package = MakeSmallPackage(40, 3);
    const size_t nEnd = package.size();
    struct CCase {
        const char* m_pszName;
        std::string m_strTail;
        const char* m_pszReported; // the report's padding line; nullptr: none
        int m_nFault;              // where the fault is, counted after the end tag; -1: none
    };
    const CCase cases[] = {
        {"nothing", "", nullptr, -1},
        {"a text-mode copy", "\r\n", "padding      2 bytes after the end tag (1 CR, 1 LF)\n", -1},
        {"a DOS end of file", "\x1A", "padding      1 byte after the end tag (1 0x1A)\n", -1},
        {"a padded block", std::string(128, '\0'),
         "padding      128 bytes after the end tag (128 NUL)\n", -1},
        {"anything else", "x", nullptr, 0},
        {"padding, then text", "\r\nPUFE", "padding      2 bytes", 2},
    };
    for (const CCase& c : cases) {
        SCOPED_TRACE(c.m_pszName);
        Bytes bytes = package;
        bytes.insert(bytes.end(), c.m_strTail.begin(), c.m_strTail.end());
        const CPackageReport report = InspectPackage(bytes);
        const std::string strText = FormatPackageReport(report);
        EXPECT_TRUE(report.m_bEndTag);
        if (c.m_pszReported)
            EXPECT_NE(strText.find(c.m_pszReported), std::string::npos) << strText;
        else
            EXPECT_EQ(strText.find("padding"), std::string::npos) << strText;
        if (c.m_nFault < 0) {
            EXPECT_TRUE(report.IsWellFormed()) << strText;
        } else {
            ASSERT_FALSE(report.IsWellFormed());
            EXPECT_EQ(report.FirstFault()->m_nOffset, nEnd + static_cast<size_t>(c.m_nFault));
        }
    }
}

} // namespace
