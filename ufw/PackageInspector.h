#pragma once
// Reads a firmware package (.ufw) the way its loader would and tells what it holds: tag, header
// text, each section's declared and real length, records by type, memory covered, start address,
// bad checksums, the end tag and any padding after it. Before a chosen file is sent it passes
// through here (PackageCheck.h), and so does the package built into the program; ufw-inspect and
// versionup-cli inspect show the report (RunInspect.h).
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

// What the reader expected and did not find. The order is that of the sentences in the string
// tables, from kFirstPackageFaultText on.
enum class EPackageFault {
    TagShort,
    WrongTag,
    HeaderShort,
    BadValue,
    NoEndTag,
    AfterEndTag,
    AfterPadding,
    FirstLength,
    LengthOrEndTag,
    RecordShort,
    RecordLetter,
    RecordType,
    HeaderRecord,
    CountTooSmall,
    RecordCut,
    Checksum,
    SectionLength,
    Closing,
};

// The string-table ids of the reader's sentences (%1.. its words) and of the end of a file. The
// English ones are built into this library as well, for check-package, which runs before the
// tables are built into the program.
constexpr unsigned kFirstPackageFaultText = 150;
constexpr unsigned kPackageEndOfFileText = 168;

struct CPackageFault {
    size_t m_nOffset = 0;
    EPackageFault m_eKind = EPackageFault::TagShort;
    std::vector<std::string> m_words; // as they go into its sentence; empty: the end of the file
    std::string m_strWhat;            // the sentence in English
};

// The fault's sentence from strFormat (its kind's text in some language), with strEndOfFile for
// the words that found the end of the file.
std::string FillPackageFault(const CPackageFault& fault, const std::string& strFormat,
                             const std::string& strEndOfFile);

struct CAddressRange {
    uint32_t m_nFirst = 0;
    uint32_t m_nLast = 0;
    bool operator==(const CAddressRange&) const = default;
};

struct CPackageSection {
    size_t m_nOffset = 0;         // of its length field
    std::string m_strName;        // data of its header record, "booter  mot" and the like
    std::string m_strLengthField; // as written, 8 hex digits
    uint32_t m_nDeclaredLength = 0;
    size_t m_nTextLength = 0;   // its records as S-record text, one-character line ends
    size_t m_nBinaryLength = 0; // its records as stored
    std::map<char, unsigned> m_recordsByType;
    std::vector<CAddressRange> m_memory; // covered, ascending, touching pieces joined
    bool m_bHasStart = false;
    uint32_t m_nStart = 0;
    std::string m_strClosing;
    std::vector<CPackageFault> m_badChecksums;
    std::vector<size_t> m_recordOffsets;
    bool m_bComplete = false; // read through its end record and closing value

    std::vector<CAddressRange> Gaps() const;
};

struct CPackageReport {
    size_t m_nSize = 0;
    std::string m_strTag;
    std::string m_strHeader;
    std::string m_strValue;
    std::vector<CPackageSection> m_sections;
    bool m_bEndTag = false;
    std::string m_strPadding; // CR, LF, 0x1A and NUL bytes after the end tag, as they stand
    std::vector<CPackageFault> m_faults; // every fault found, by offset

    bool IsWellFormed() const { return m_faults.empty(); }
    // The fault at the lowest offset; nullptr for a well-formed package.
    const CPackageFault* FirstFault() const;
};

CPackageReport InspectPackage(const std::vector<uint8_t>& bytes);

// The report for a person, one fact a line.
std::string FormatPackageReport(const CPackageReport& report);

// One complete section as a standard Motorola S-record file: the records in their stored
// order, "S" for "B", hex pairs for raw bytes, "\n" line ends, checksums as stored.
std::string SectionAsSRecords(const std::vector<uint8_t>& bytes, const CPackageSection& section);

// A file name made from the section name ("booter  mot" gives "booter.mot"), safe for any name
// a file may carry; nIndex (from 1) stands in where the name gives nothing usable.
std::string SectionFileName(const CPackageSection& section, size_t nIndex);
