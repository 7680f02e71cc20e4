#include "ufw/PackageInspector.h"

#include <algorithm>
#include <cstdio>

// The English string table's sentence of nId (PackageFaultTexts.cpp, made by the build).
const char* EnglishPackageText(unsigned nId);

namespace {

constexpr size_t kTagLength = 10;
constexpr size_t kHeaderLength = 22;

// As long as the text needs: a section name may be any length a count byte allows.
std::string Format(const char* pszFormat, auto... args) {
    const int n = std::snprintf(nullptr, 0, pszFormat, args...);
    std::string str(n > 0 ? static_cast<size_t>(n) : 0, '\0');
    std::snprintf(str.data(), str.size() + 1, pszFormat, args...);
    return str;
}

// Bytes as a person can read them in a message: printable ASCII as is, the rest as \xNN.
std::string Quote(const uint8_t* p, size_t n) {
    std::string str = "\"";
    for (size_t i = 0; i < n; ++i) {
        if (p[i] >= 0x20 && p[i] < 0x7F && p[i] != '"' && p[i] != '\\')
            str += static_cast<char>(p[i]);
        else
            str += Format("\\x%02X", p[i]);
    }
    return str + "\"";
}

int AddressLength(char cType) {
    switch (cType) {
    case '2':
    case '6':
    case '8':
        return 3;
    case '3':
    case '7':
        return 4;
    default:
        return 2;
    }
}

bool IsRecordType(uint8_t c) {
    return c >= '0' && c <= '9' && c != '4';
}
bool IsEndType(char c) {
    return c == '7' || c == '8' || c == '9';
}
bool IsDataType(char c) {
    return c == '1' || c == '2' || c == '3';
}
CPackageFault MakeFault(size_t nOffset, EPackageFault eKind, std::vector<std::string> words) {
    CPackageFault fault{nOffset, eKind, std::move(words), {}};
    fault.m_strWhat = FillPackageFault(
        fault, EnglishPackageText(kFirstPackageFaultText + static_cast<unsigned>(eKind)),
        EnglishPackageText(kPackageEndOfFileText));
    return fault;
}

bool IsPadding(uint8_t c) {
    return c == '\r' || c == '\n' || c == 0x1A || c == 0;
}

class CReader {
public:
    CReader(const std::vector<uint8_t>& bytes, CPackageReport& report)
        : m_bytes(bytes), m_report(report) {}

    void Read() {
        m_report.m_nSize = m_bytes.size();
        if (!ReadFixedFields())
            return;
        size_t p = 40;
        for (;;) {
            if (!m_report.m_sections.empty()) {
                if (Left(p) == 0)
                    return Fault(p, EPackageFault::NoEndTag, {Found(p, 4)});
                if (Left(p) >= 4 &&
                    std::equal(m_bytes.begin() + p, m_bytes.begin() + p + 4, "PUFE")) {
                    m_report.m_bEndTag = true;
                    return ReadPadding(p + 4);
                }
            }
            uint32_t nLength = 0;
            if (!ReadHex(p, 8, nLength)) {
                return Fault(p,
                             m_report.m_sections.empty() ? EPackageFault::FirstLength
                                                         : EPackageFault::LengthOrEndTag,
                             {Found(p, 8)});
            }
            m_report.m_sections.emplace_back();
            CPackageSection& section = m_report.m_sections.back();
            section.m_nOffset = p;
            section.m_strLengthField.assign(m_bytes.begin() + p, m_bytes.begin() + p + 8);
            section.m_nDeclaredLength = nLength;
            if (!ReadSection(p + 8, section, p))
                return;
        }
    }

private:
    size_t Left(size_t p) const { return p < m_bytes.size() ? m_bytes.size() - p : 0; }

    // Empty at the end of the file, for which each language has its words (FillPackageFault).
    std::string Found(size_t p, size_t n) const {
        if (Left(p) == 0)
            return {};
        return Quote(m_bytes.data() + p, std::min(n, Left(p)));
    }

    void Fault(size_t nOffset, EPackageFault eKind, std::vector<std::string> args) {
        m_report.m_faults.push_back(MakeFault(nOffset, eKind, std::move(args)));
    }

    bool ReadHex(size_t p, size_t n, uint32_t& nValue) const {
        if (Left(p) < n)
            return false;
        nValue = 0;
        for (size_t i = 0; i < n; ++i) {
            uint8_t c = m_bytes[p + i];
            if (c >= '0' && c <= '9')
                nValue = nValue << 4 | (c - '0');
            else if (c >= 'A' && c <= 'F')
                nValue = nValue << 4 | (c - 'A' + 10);
            else
                return false;
        }
        return true;
    }

    bool ReadFixedFields() {
        if (Left(0) < kTagLength) {
            Fault(0, EPackageFault::TagShort, {Found(0, kTagLength)});
            return false;
        }
        m_report.m_strTag.assign(m_bytes.begin(), m_bytes.begin() + kTagLength);
        if (m_report.m_strTag.compare(0, 3, "PUF") != 0)
            Fault(0, EPackageFault::WrongTag, {Found(0, kTagLength)});
        if (Left(kTagLength) < kHeaderLength) {
            Fault(kTagLength, EPackageFault::HeaderShort, {Found(kTagLength, kHeaderLength)});
            return false;
        }
        m_report.m_strHeader.assign(m_bytes.begin() + kTagLength,
                                    m_bytes.begin() + kTagLength + kHeaderLength);
        uint32_t nValue = 0;
        if (Left(32) < 8) {
            Fault(32, EPackageFault::BadValue, {Found(32, 8)});
            return false;
        }
        m_report.m_strValue.assign(m_bytes.begin() + 32, m_bytes.begin() + 40);
        if (!ReadHex(32, 8, nValue))
            Fault(32, EPackageFault::BadValue, {Found(32, 8)});
        return true;
    }

    // Reads the records from p up to and including the end record, then the closing value;
    // nNext is where the next section or the end tag begins.
    bool ReadSection(size_t p, CPackageSection& section, size_t& nNext) {
        std::vector<CAddressRange> pieces;
        for (bool bFirst = true;; bFirst = false) {
            if (Left(p) < 3) {
                Fault(p, EPackageFault::RecordShort, {Found(p, 3)});
                return false;
            }
            if (m_bytes[p] != 'B') {
                Fault(p, EPackageFault::RecordLetter, {Found(p, 1)});
                return false;
            }
            const uint8_t cType = m_bytes[p + 1];
            if (!IsRecordType(cType)) {
                Fault(p + 1, EPackageFault::RecordType, {Found(p + 1, 1)});
                return false;
            }
            if (bFirst && cType != '0') {
                Fault(p + 1, EPackageFault::HeaderRecord,
                      {std::to_string(m_report.m_sections.size()), Found(p + 1, 1)});
                return false;
            }
            const size_t nAddr = AddressLength(static_cast<char>(cType));
            const size_t nCount = m_bytes[p + 2];
            if (nCount < nAddr + 1) {
                Fault(p + 2, EPackageFault::CountTooSmall,
                      {std::to_string(nAddr + 1), std::string(1, static_cast<char>(cType)),
                       std::to_string(nCount)});
                return false;
            }
            if (Left(p + 3) < nCount) {
                Fault(p, EPackageFault::RecordCut,
                      {std::to_string(3 + nCount), std::to_string(Left(p))});
                return false;
            }

            const uint8_t* pBody = m_bytes.data() + p + 2;
            unsigned nSum = 0;
            for (size_t i = 0; i < nCount; ++i)
                nSum += pBody[i];
            const uint8_t nExpected = static_cast<uint8_t>(~nSum);
            const uint8_t nStored = pBody[nCount];
            if (nStored != nExpected) {
                const CPackageFault fault =
                    MakeFault(p + 2 + nCount, EPackageFault::Checksum,
                              {Format("%02X", nExpected), std::string(1, static_cast<char>(cType)),
                               std::to_string(p), Format("%02X", nStored)});
                section.m_badChecksums.push_back(fault);
                m_report.m_faults.push_back(fault);
            }

            uint32_t nAddress = 0;
            for (size_t i = 0; i < nAddr; ++i)
                nAddress = nAddress << 8 | pBody[1 + i];
            const size_t nData = nCount - nAddr - 1;
            if (cType == '0')
                section.m_strName.assign(pBody + 1 + nAddr, pBody + 1 + nAddr + nData);
            if (IsDataType(static_cast<char>(cType)) && nData > 0)
                pieces.push_back({nAddress, static_cast<uint32_t>(std::min<uint64_t>(
                                                uint64_t(nAddress) + nData - 1, 0xFFFFFFFF))});

            ++section.m_recordsByType[static_cast<char>(cType)];
            section.m_recordOffsets.push_back(p);
            section.m_nBinaryLength += 3 + nCount;
            section.m_nTextLength += 2 + 2 * (nCount + 1) + 1;
            p += 3 + nCount;

            if (IsEndType(static_cast<char>(cType))) {
                section.m_bHasStart = true;
                section.m_nStart = nAddress;
                break;
            }
        }

        section.m_memory = JoinPieces(std::move(pieces));
        if (section.m_nDeclaredLength != section.m_nTextLength) {
            Fault(section.m_nOffset, EPackageFault::SectionLength,
                  {Format("%08zX", section.m_nTextLength), std::to_string(section.m_nTextLength),
                   section.m_strLengthField, std::to_string(section.m_nDeclaredLength)});
        }
        uint32_t nClosing = 0;
        if (!ReadHex(p, 4, nClosing)) {
            Fault(p, EPackageFault::Closing,
                  {std::to_string(m_report.m_sections.size()), Found(p, 4)});
            return false;
        }
        section.m_strClosing.assign(m_bytes.begin() + p, m_bytes.begin() + p + 4);
        section.m_bComplete = true;
        nNext = p + 4;
        return true;
    }

    // A file that went through a text-mode or block-padded copy ends in line ends, a DOS end of
    // file or zeros after its end tag; the loader stops reading at the tag.
    void ReadPadding(size_t p) {
        size_t q = p;
        while (q < m_bytes.size() && IsPadding(m_bytes[q]))
            ++q;
        m_report.m_strPadding.assign(m_bytes.begin() + p, m_bytes.begin() + q);
        if (Left(q) > 0) {
            Fault(q, q > p ? EPackageFault::AfterPadding : EPackageFault::AfterEndTag,
                  {std::to_string(Left(q))});
        }
    }

    static std::vector<CAddressRange> JoinPieces(std::vector<CAddressRange> pieces) {
        std::sort(pieces.begin(), pieces.end(), [](const CAddressRange& a, const CAddressRange& b) {
            return a.m_nFirst < b.m_nFirst;
        });
        std::vector<CAddressRange> joined;
        for (const CAddressRange& piece : pieces) {
            if (!joined.empty() && uint64_t(piece.m_nFirst) <= uint64_t(joined.back().m_nLast) + 1)
                joined.back().m_nLast = std::max(joined.back().m_nLast, piece.m_nLast);
            else
                joined.push_back(piece);
        }
        return joined;
    }

    const std::vector<uint8_t>& m_bytes;
    CPackageReport& m_report;
};

std::string Plural(size_t n, const char* pszOne, const char* pszMany) {
    return std::to_string(n) + " " + (n == 1 ? pszOne : pszMany);
}

std::string Address(uint32_t n, int nDigits) {
    return Format("0x%0*X", nDigits, n);
}

} // namespace

std::string FillPackageFault(const CPackageFault& fault, const std::string& strFormat,
                             const std::string& strEndOfFile) {
    std::string strText;
    for (size_t i = 0; i < strFormat.size(); ++i) {
        const size_t nWord = i + 1 < strFormat.size() && strFormat[i] == '%'
                                 ? static_cast<size_t>(strFormat[i + 1] - '1')
                                 : fault.m_words.size();
        if (nWord < fault.m_words.size()) {
            strText += fault.m_words[nWord].empty() ? strEndOfFile : fault.m_words[nWord];
            ++i;
        } else {
            strText += strFormat[i];
        }
    }
    return strText;
}

std::vector<CAddressRange> CPackageSection::Gaps() const {
    std::vector<CAddressRange> gaps;
    for (size_t i = 1; i < m_memory.size(); ++i)
        gaps.push_back({m_memory[i - 1].m_nLast + 1, m_memory[i].m_nFirst - 1});
    return gaps;
}

const CPackageFault* CPackageReport::FirstFault() const {
    auto it = std::min_element(
        m_faults.begin(), m_faults.end(),
        [](const CPackageFault& a, const CPackageFault& b) { return a.m_nOffset < b.m_nOffset; });
    return it == m_faults.end() ? nullptr : &*it;
}

CPackageReport InspectPackage(const std::vector<uint8_t>& bytes) {
    CPackageReport report;
    CReader(bytes, report).Read();
    std::stable_sort(
        report.m_faults.begin(), report.m_faults.end(),
        [](const CPackageFault& a, const CPackageFault& b) { return a.m_nOffset < b.m_nOffset; });
    return report;
}

std::string FormatPackageReport(const CPackageReport& report) {
    auto quote = [](const std::string& str) {
        return Quote(reinterpret_cast<const uint8_t*>(str.data()), str.size());
    };
    std::string out = Format("size         %zu bytes\n", report.m_nSize);
    if (!report.m_strTag.empty())
        out += "tag          " + quote(report.m_strTag) + "\n";
    if (!report.m_strHeader.empty())
        out += "header text  " + quote(report.m_strHeader) + "\n";
    if (!report.m_strValue.empty())
        out += "value        " + quote(report.m_strValue) + "\n";

    for (size_t i = 0; i < report.m_sections.size(); ++i) {
        const CPackageSection& s = report.m_sections[i];
        out += Format("section %zu    %s at offset %zu\n", i + 1, quote(s.m_strName).c_str(),
                      s.m_nOffset);
        out += Format("  length     %u declared (%s), %zu as S-record text, %zu bytes stored\n",
                      s.m_nDeclaredLength, s.m_strLengthField.c_str(), s.m_nTextLength,
                      s.m_nBinaryLength);
        std::string strTypes;
        for (const auto& [cType, nCount] : s.m_recordsByType)
            strTypes += Format("%s%u of type \"%c\"", strTypes.empty() ? "" : ", ", nCount, cType);
        out += "  records    " + strTypes + "\n";
        const int nDigits = !s.m_memory.empty() && s.m_memory.back().m_nLast > 0xFFFF ? 5 : 4;
        if (s.m_memory.empty()) {
            out += "  memory     none\n";
        } else {
            uint64_t nBytes = 0;
            for (const CAddressRange& r : s.m_memory)
                nBytes += uint64_t(r.m_nLast) - r.m_nFirst + 1;
            out += Format("  memory     %s to %s, %llu bytes\n",
                          Address(s.m_memory.front().m_nFirst, nDigits).c_str(),
                          Address(s.m_memory.back().m_nLast, nDigits).c_str(),
                          static_cast<unsigned long long>(nBytes));
        }
        const std::vector<CAddressRange> gaps = s.Gaps();
        out += "  gaps       " +
               (gaps.empty() ? std::string("none") : Plural(gaps.size(), "gap", "gaps"));
        for (const CAddressRange& g : gaps) {
            uint32_t n = g.m_nLast - g.m_nFirst + 1;
            out += (&g == &gaps.front() ? ": " : ", ") + Address(g.m_nFirst, nDigits) +
                   (n == 1 ? "" : " to " + Address(g.m_nLast, nDigits)) + " (" +
                   Plural(n, "byte", "bytes") + ")";
        }
        out += "\n";
        if (s.m_bHasStart)
            out += "  start      " + Address(s.m_nStart, nDigits) + "\n";
        if (s.m_bComplete)
            out += "  closing    " + quote(s.m_strClosing) + "\n";
        out += "  checksums  " +
               (s.m_badChecksums.empty() ? std::string("all right")
                                         : Plural(s.m_badChecksums.size(), "wrong", "wrong")) +
               "\n";
        for (const CPackageFault& f : s.m_badChecksums)
            out += Format("    offset %zu: ", f.m_nOffset) + f.m_strWhat + "\n";
    }
    if (report.m_bEndTag)
        out += "end tag      \"PUFE\"\n";
    if (!report.m_strPadding.empty()) {
        std::string strKinds;
        for (const auto& [c, pszName] : {std::pair<uint8_t, const char*>{'\r', "CR"},
                                         {'\n', "LF"},
                                         {0x1A, "0x1A"},
                                         {0, "NUL"}}) {
            const auto n = std::count(report.m_strPadding.begin(), report.m_strPadding.end(), c);
            if (n > 0)
                strKinds += (strKinds.empty() ? "" : ", ") + std::to_string(n) + " " + pszName;
        }
        out += "padding      " + Plural(report.m_strPadding.size(), "byte", "bytes") +
               " after the end tag (" + strKinds + ")\n";
    }
    if (const CPackageFault* pFault = report.FirstFault())
        out += Format("malformed    offset %zu: ", pFault->m_nOffset) + pFault->m_strWhat + "\n";
    else
        out += "well-formed\n";
    return out;
}

std::string SectionAsSRecords(const std::vector<uint8_t>& bytes, const CPackageSection& section) {
    std::string out;
    out.reserve(section.m_nTextLength);
    for (size_t p : section.m_recordOffsets) {
        const size_t nCount = bytes[p + 2];
        out += 'S';
        out += static_cast<char>(bytes[p + 1]);
        for (size_t i = 0; i < nCount + 1; ++i)
            out += Format("%02X", bytes[p + 2 + i]);
        out += '\n';
    }
    return out;
}

std::string SectionFileName(const CPackageSection& section, size_t nIndex) {
    // "booter  mot": up to 8 characters of name, blanks, 3 of type.
    std::string strName =
        section.m_strName.substr(0, std::min<size_t>(8, section.m_strName.size()));
    std::string strType = section.m_strName.size() > 8 ? section.m_strName.substr(8) : "";
    auto clean = [](std::string str) {
        std::string out;
        for (char c : str) {
            if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                c == '_' || c == '-')
                out += c;
        }
        return out;
    };
    strName = clean(strName);
    strType = clean(strType);
    if (strName.empty())
        strName = "section" + std::to_string(nIndex);
    return strName + "." + (strType.empty() ? "srec" : strType);
}
