// ufw-inspect on the stand-in package, the built-in package and damaged copies, and its
// S-record files read back by srecord's srec_info.
#include <gtest/gtest.h>

#include <unistd.h>

#include <functional>
#include <regex>

#include "ufw/PackageInspector.h"
#include "resources/Resources.h"
#include "tests/support/Files.h"
#include "tests/support/TempDir.h"

namespace {

using Bytes = std::vector<unsigned char>;

const std::filesystem::path kStandinPackage =
    std::filesystem::path(VERSIONUP_SOURCE_DIR) / "resources" / "package.ufw";

TEST(UfwInspect, StandinPackageHasTheFiguresOfTheRelease) {
    const Bytes package = ReadBytes(kStandinPackage);
    const CPackageReport report = InspectPackage(package);
    ASSERT_TRUE(report.IsWellFormed()) << FormatPackageReport(report);
    EXPECT_EQ(report.m_nSize, 118658u);
    EXPECT_EQ(report.m_strTag, "PUF14303  ");
    EXPECT_EQ(report.m_strHeader, "TVK35/50 NRP7/70  V260");
    EXPECT_EQ(report.m_strValue, "0002F94F");
    EXPECT_TRUE(report.m_bEndTag);
    ASSERT_EQ(report.m_sections.size(), 2u);

    const CPackageSection& booter = report.m_sections[0];
    EXPECT_EQ(booter.m_nOffset, 40u);
    EXPECT_EQ(booter.m_strName, "booter  mot");
    EXPECT_EQ(booter.m_strLengthField, "000028AA");
    EXPECT_EQ(booter.m_nTextLength, 10410u);
    EXPECT_EQ(booter.m_nBinaryLength, 5332u);
    EXPECT_EQ(booter.m_recordsByType, (std::map<char, unsigned>{{'0', 1}, {'1', 252}, {'9', 1}}));
    EXPECT_EQ(booter.m_memory.front().m_nFirst, 0x0000u);
    EXPECT_EQ(booter.m_memory.back().m_nLast, 0x0ED7u);
    EXPECT_EQ(booter.Gaps().size(), 2u);
    EXPECT_EQ(booter.m_nStart, 0x0000u);
    EXPECT_EQ(booter.m_strClosing, "9631");

    const CPackageSection& firmware = report.m_sections[1];
    EXPECT_EQ(firmware.m_nOffset, 5384u);
    EXPECT_EQ(firmware.m_strName, "Tvk35   mot");
    EXPECT_EQ(firmware.m_strLengthField, "00036038");
    EXPECT_EQ(firmware.m_nTextLength, 221240u);
    EXPECT_EQ(firmware.m_nBinaryLength, 113258u);
    EXPECT_EQ(firmware.m_recordsByType,
              (std::map<char, unsigned>{{'0', 1}, {'1', 4025}, {'2', 1249}, {'9', 1}}));
    EXPECT_EQ(firmware.m_memory.front().m_nFirst, 0x1000u);
    EXPECT_EQ(firmware.m_memory.back().m_nLast, 0x149D9u);
    EXPECT_EQ(firmware.Gaps().size(), 3u);
    EXPECT_EQ(firmware.m_nStart, 0x1000u);
    EXPECT_EQ(firmware.m_strClosing, "590C");

    for (const CPackageSection* pSection : {&booter, &firmware}) {
        for (const CAddressRange& gap : pSection->Gaps())
            EXPECT_LE(gap.m_nLast - gap.m_nFirst + 1, 16u) << "gaps are small";
        // Not in address order: some data record starts below the one before it.
        bool bOutOfOrder = false;
        for (size_t i = 2; i + 1 < pSection->m_recordOffsets.size(); ++i) {
            size_t p = pSection->m_recordOffsets[i], q = pSection->m_recordOffsets[i - 1];
            bOutOfOrder |= package[p + 1] == package[q + 1] && package[p + 3] < package[q + 3];
        }
        EXPECT_TRUE(bOutOfOrder);
    }
    // Header record: count 14, address 0, "booter  mot", checksum 0xD6.
    EXPECT_EQ(package[48 + 2], 14);
    EXPECT_EQ(package[48 + 16], 0xD6);
}

TEST(UfwInspect, BuiltinPackageIsWellFormed) {
    CResource res = FindResource("BIN", kIdPackage);
    ASSERT_TRUE(res);
    CTempDir dir("versionup-tools");
    WriteBytes(dir / "builtin.ufw", Bytes(res.m_pData, res.m_pData + res.m_nSize));
    CCommandResult result = RunCommand(dir.Path(), {UFW_INSPECT, (dir / "builtin.ufw").string()});
    EXPECT_EQ(result.m_nExit, 0) << result.m_strOut << result.m_strErr;
    EXPECT_NE(result.m_strOut.find("header text  \"TVK35/50 NRP7/70  V260\""), std::string::npos)
        << result.m_strOut;
    EXPECT_NE(result.m_strOut.find("\nwell-formed\n"), std::string::npos);
    EXPECT_EQ(result.m_strErr, "");
}

void Put(Bytes& bytes, size_t nOffset, const std::string& str) {
    std::copy(str.begin(), str.end(), bytes.begin() + static_cast<ptrdiff_t>(nOffset));
}

TEST(UfwInspect, DamagedCopiesFailWithTheFirstFaultNamed) {
    const Bytes good = ReadBytes(kStandinPackage);
    ASSERT_EQ(good.size(), 118658u);
    // Offsets in the stand-in: first record 48 (its checksum 64), first data record 65, first
    // closing value 5380, second length 5384, second closing value 118650, end tag 118654.
    struct {
        const char* m_pszName;
        std::function<void(Bytes&)> m_damage;
        size_t m_nOffset;
        const char* m_pszWhat;
    } const cases[] = {
        {"flipped checksum byte", [](Bytes& b) { b[64] ^= 0xFF; }, 64,
         "expected checksum 0xD6 of the type \"0\" record at offset 48, found 0x29"},
        {"wrong length of section 1", [](Bytes& b) { Put(b, 40, "000028AB"); }, 40,
         "expected section length 000028AA (10410, its records as S-record text), found "
         "000028AB (10411)"},
        {"wrong length of section 2", [](Bytes& b) { Put(b, 5384, "00036037"); }, 5384,
         "expected section length 00036038 (221240, its records as S-record text), found "
         "00036037 (221239)"},
        {"lower-case length", [](Bytes& b) { Put(b, 40, "000028aa"); }, 40,
         "expected section length (8 hex digits), found \"000028aa\""},
        {"missing PUFE", [](Bytes& b) { b.resize(118654); }, 118654,
         "expected end tag \"PUFE\", found end of file"},
        {"misspelt PUFE", [](Bytes& b) { Put(b, 118654, "PUFX"); }, 118654,
         "expected section length (8 hex digits) or end tag \"PUFE\", found \"PUFX\""},
        {"bytes after PUFE", [](Bytes& b) { b.push_back('x'); }, 118658,
         "expected end of file after \"PUFE\", found 1 more bytes"},
        {"truncated inside a record", [](Bytes& b) { b.resize(70); }, 65,
         "found end of file after 5"},
        {"truncated after a section's records", [](Bytes& b) { b.resize(5380); }, 5380,
         "expected closing value of section 1 (4 hex digits), found end of file"},
        {"truncated after the header text", [](Bytes& b) { b.resize(32); }, 32,
         "expected package value (8 hex digits), found end of file"},
        {"record letter S", [](Bytes& b) { b[65] = 'S'; }, 65,
         "expected record letter \"B\", found \"S\""},
        {"record type 4", [](Bytes& b) { b[66] = '4'; }, 66,
         "expected record type \"0\" to \"9\" (not \"4\"), found \"4\""},
        {"section without header record", [](Bytes& b) { b[49] = '1'; }, 49,
         "expected header record (type \"0\") at the start of section 1"},
        {"wrong tag", [](Bytes& b) { b[0] = 'X'; }, 0, "expected tag beginning with \"PUF\""},
        {"empty file", [](Bytes& b) { b.clear(); }, 0,
         "expected tag \"PUF...\" (10 bytes), found end of file"},
        {"file of 10 bytes", [](Bytes& b) { b.resize(10); }, 10,
         "expected header text (22 bytes), found end of file"},
    };
    CTempDir dir("versionup-tools");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.m_pszName);
        Bytes damaged = good;
        c.m_damage(damaged);

        const CPackageReport report = InspectPackage(damaged);
        ASSERT_FALSE(report.IsWellFormed());
        EXPECT_EQ(report.FirstFault()->m_nOffset, c.m_nOffset);
        EXPECT_NE(report.FirstFault()->m_strWhat.find(c.m_pszWhat), std::string::npos)
            << report.FirstFault()->m_strWhat;

        WriteBytes(dir / "damaged.ufw", damaged);
        CCommandResult result =
            RunCommand(dir.Path(), {UFW_INSPECT, (dir / "damaged.ufw").string()});
        EXPECT_EQ(result.m_nExit, 1);
        EXPECT_NE(result.m_strErr.find("malformed at offset " + std::to_string(c.m_nOffset) +
                                       ": expected"),
                  std::string::npos)
            << result.m_strErr;
        EXPECT_NE(result.m_strErr.find(c.m_pszWhat), std::string::npos) << result.m_strErr;
    }
}

TEST(UfwInspect, ListsEveryWrongChecksumAndReadsOn) {
    Bytes package = ReadBytes(kStandinPackage);
    const CPackageReport good = InspectPackage(package);
    // The checksum of the last data record of each section, found from the record offsets.
    std::vector<size_t> flipped;
    for (const CPackageSection& section : good.m_sections) {
        size_t p = section.m_recordOffsets[section.m_recordOffsets.size() - 2];
        flipped.push_back(p + 3 + package[p + 2] - 1);
        package[flipped.back()] ^= 0x01;
    }
    const CPackageReport report = InspectPackage(package);
    ASSERT_EQ(report.m_faults.size(), 2u);
    EXPECT_EQ(report.m_faults[0].m_nOffset, flipped[0]);
    EXPECT_EQ(report.m_faults[1].m_nOffset, flipped[1]);
    ASSERT_EQ(report.m_sections.size(), 2u);
    EXPECT_EQ(report.m_sections[0].m_badChecksums.size(), 1u);
    EXPECT_EQ(report.m_sections[1].m_badChecksums.size(), 1u);
    EXPECT_TRUE(report.m_bEndTag);
    std::string strText = FormatPackageReport(report);
    EXPECT_NE(strText.find("offset " + std::to_string(flipped[1]) + ": expected checksum"),
              std::string::npos)
        << strText;
}

TEST(UfwInspect, FileItCannotReadExitsWith2) {
    CTempDir dir("versionup-tools");
    CCommandResult missing = RunCommand(dir.Path(), {UFW_INSPECT, (dir / "none.ufw").string()});
    EXPECT_EQ(missing.m_nExit, 2);
    EXPECT_NE(missing.m_strErr.find("none.ufw: No such file or directory"), std::string::npos)
        << missing.m_strErr;
    CCommandResult folder = RunCommand(dir.Path(), {UFW_INSPECT, dir.Path().string()});
    EXPECT_EQ(folder.m_nExit, 2);
    EXPECT_NE(folder.m_strErr.find("Is a directory"), std::string::npos) << folder.m_strErr;
    EXPECT_EQ(RunCommand(dir.Path(), {UFW_INSPECT}).m_nExit, 2);
    EXPECT_EQ(RunCommand(dir.Path(), {UFW_INSPECT, "--bogus", kStandinPackage.string()}).m_nExit,
              2);
    EXPECT_EQ(RunCommand(dir.Path(),
                         {UFW_INSPECT, "-s", (dir / "none").string(), kStandinPackage.string()})
                  .m_nExit,
              2);
}

std::string FindOnPath(const std::string& strName) {
    const char* pszPath = std::getenv("PATH");
    std::stringstream path(pszPath ? pszPath : "/usr/bin:/bin");
    for (std::string strDir; std::getline(path, strDir, ':');) {
        std::filesystem::path candidate = std::filesystem::path(strDir) / strName;
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate.string();
    }
    return "";
}

// The sections as S-record text are as long as their length fields say, and another reader
// (srecord's srec_info, which also checks every checksum) sees the same memory and start.
TEST(UfwInspect, SectionsWrittenAsSRecordsReadBackWithSrecInfo) {
    const CPackageReport report = InspectPackage(ReadBytes(kStandinPackage));
    CTempDir dir("versionup-tools");
    CCommandResult result = RunCommand(
        dir.Path(), {UFW_INSPECT, "--srec", dir.Path().string(), kStandinPackage.string()});
    ASSERT_EQ(result.m_nExit, 0) << result.m_strErr;
    const char* const names[] = {"booter.mot", "Tvk35.mot"};
    for (size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(names[i]);
        ASSERT_TRUE(std::filesystem::exists(dir / names[i])) << result.m_strOut;
        EXPECT_EQ(std::filesystem::file_size(dir / names[i]),
                  report.m_sections[i].m_nDeclaredLength);
    }
    EXPECT_EQ(ReadAll(dir / "booter.mot").substr(0, 33), "S00E0000626F6F74657220206D6F74D6\n");

    const std::string strSrecInfo = FindOnPath("srec_info");
    ASSERT_FALSE(strSrecInfo.empty())
        << "srec_info (Debian package srecord, which tools/deps.sh installs) is missing";
    for (size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(names[i]);
        const CPackageSection& section = report.m_sections[i];
        CCommandResult info = RunCommand(
            dir.Path(), {strSrecInfo, "-disable-sequence-warnings", (dir / names[i]).string()});
        ASSERT_EQ(info.m_nExit, 0) << info.m_strOut << info.m_strErr;
        EXPECT_NE(info.m_strOut.find("Header: \"" + section.m_strName + "\""), std::string::npos)
            << info.m_strOut;

        std::smatch match;
        ASSERT_TRUE(std::regex_search(info.m_strOut, match,
                                      std::regex("Execution Start Address: ([0-9A-F]+)")));
        EXPECT_EQ(std::stoul(match[1], nullptr, 16), section.m_nStart);

        std::vector<CAddressRange> ranges;
        const std::string strData = info.m_strOut.substr(info.m_strOut.find("Data:"));
        const std::regex range("([0-9A-F]+) - ([0-9A-F]+)");
        for (auto it = std::sregex_iterator(strData.begin(), strData.end(), range);
             it != std::sregex_iterator(); ++it) {
            ranges.push_back({static_cast<uint32_t>(std::stoul((*it)[1], nullptr, 16)),
                              static_cast<uint32_t>(std::stoul((*it)[2], nullptr, 16))});
        }
        EXPECT_EQ(ranges, section.m_memory);
        EXPECT_EQ(ranges.size(), section.Gaps().size() + 1);
    }
}

} // namespace
