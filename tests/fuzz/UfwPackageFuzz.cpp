// The package inspector over any bytes: a report whose facts all point inside the file, a text
// for a person, S-record text and file names that are safe to write.
#include <cstdint>
#include <string>
#include <vector>

#include "ufw/PackageInspector.h"
#include "tests/fuzz/FuzzCheck.h"

namespace {

bool IsSafeFileName(const std::string& str) {
    // NAME_MAX: longer names cannot be created.
    if (str.empty() || str[0] == '.' || str.size() > 255)
        return false;
    for (char c : str) {
        const bool bOk = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                         (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '.';
        if (!bOk)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    const std::vector<uint8_t> bytes(pData, pData + nSize);
    const CPackageReport report = InspectPackage(bytes);

    FUZZ_CHECK(report.m_nSize == nSize);
    for (size_t i = 0; i < report.m_faults.size(); ++i) {
        FUZZ_CHECK(report.m_faults[i].m_nOffset <= nSize);
        FUZZ_CHECK(!report.m_faults[i].m_strWhat.empty());
        if (i > 0)
            FUZZ_CHECK(report.m_faults[i - 1].m_nOffset <= report.m_faults[i].m_nOffset);
    }
    const CPackageFault* pFirst = report.FirstFault();
    FUZZ_CHECK((pFirst == nullptr) == report.IsWellFormed());

    size_t nStored = 0;
    for (size_t i = 0; i < report.m_sections.size(); ++i) {
        const CPackageSection& section = report.m_sections[i];
        FUZZ_CHECK(section.m_nOffset + 8 <= nSize);
        size_t nBinary = 0;
        for (size_t p : section.m_recordOffsets) {
            FUZZ_CHECK(p + 3 <= nSize);
            FUZZ_CHECK(p + 3 + bytes[p + 2] <= nSize);
            nBinary += 3 + bytes[p + 2];
        }
        FUZZ_CHECK(nBinary == section.m_nBinaryLength);
        nStored += 8 + nBinary + (section.m_bComplete ? 4 : 0);
        for (size_t k = 1; k < section.m_memory.size(); ++k)
            FUZZ_CHECK(uint64_t(section.m_memory[k - 1].m_nLast) + 1 <
                       section.m_memory[k].m_nFirst);
        for (const CAddressRange& range : section.m_memory)
            FUZZ_CHECK(range.m_nFirst <= range.m_nLast);
        const std::vector<CAddressRange> gaps = section.Gaps();
        FUZZ_CHECK(gaps.size() + 1 == std::max<size_t>(section.m_memory.size(), 1));
        for (const CAddressRange& gap : gaps)
            FUZZ_CHECK(gap.m_nFirst <= gap.m_nLast);

        const std::string strRecords = SectionAsSRecords(bytes, section);
        FUZZ_CHECK(strRecords.size() == section.m_nTextLength);
        FUZZ_CHECK(IsSafeFileName(SectionFileName(section, i + 1)));
        // Only the last section may stop short.
        if (i + 1 < report.m_sections.size())
            FUZZ_CHECK(section.m_bComplete);
    }
    if (report.IsWellFormed()) {
        FUZZ_CHECK(report.m_bEndTag && !report.m_sections.empty());
        FUZZ_CHECK(40 + nStored + 4 == nSize);
    }

    const std::string strText = FormatPackageReport(report);
    const std::string strVerdict = report.IsWellFormed() ? "well-formed\n" : "malformed";
    FUZZ_CHECK(strText.find(strVerdict) != std::string::npos);
    // The text is for a terminal: no raw control bytes from the file may reach it.
    for (char c : strText)
        FUZZ_CHECK(c == '\n' || (c >= 0x20 && c < 0x7F));
    return 0;
}
