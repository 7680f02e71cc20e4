// The stand-in loader and package under resources/ are what the generator makes.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "tests/support/Files.h"
#include "tests/support/TempDir.h"

namespace {

const std::filesystem::path kResources = std::filesystem::path(VERSIONUP_SOURCE_DIR) / "resources";

TEST(FirmwareStandins, RegeneratedFilesEqualTheCommittedOnes) {
    CTempDir dir("versionup-tools");
    CCommandResult result = RunCommand(dir.Path(), {MAKE_FIRMWARE_STANDINS, dir.Path().string()});
    ASSERT_EQ(result.m_nExit, 0) << result.m_strErr;
    for (const char* pszName : {"loader.bin", "package.ufw"}) {
        SCOPED_TRACE(pszName);
        std::vector<unsigned char> fresh = ReadBytes(dir / pszName);
        std::vector<unsigned char> committed = ReadBytes(kResources / pszName);
        ASSERT_EQ(fresh.size(), committed.size());
        auto mismatch = std::mismatch(fresh.begin(), fresh.end(), committed.begin());
        EXPECT_TRUE(mismatch.first == fresh.end())
            << "first difference at offset " << (mismatch.first - fresh.begin());
    }
}

TEST(FirmwareStandins, GeneratorFailsOnAFolderItCannotWrite) {
    CTempDir dir("versionup-tools");
    CCommandResult result =
        RunCommand(dir.Path(), {MAKE_FIRMWARE_STANDINS, (dir / "missing").string()});
    EXPECT_NE(result.m_nExit, 0);
    EXPECT_NE(result.m_strErr.find("No such file or directory"), std::string::npos)
        << result.m_strErr;
    EXPECT_EQ(RunCommand(dir.Path(), {MAKE_FIRMWARE_STANDINS}).m_nExit, 2);
}

// The loader is echoed byte by byte in boot mode; it must carry the values that a port left
// in a cooked, XON/XOFF or parity mode would change or swallow.
TEST(FirmwareStandins, LoaderHoldsEveryByteValueAndRunsOfTheFragileOnes) {
    std::vector<unsigned char> loader = ReadBytes(kResources / "loader.bin");
    ASSERT_EQ(loader.size(), 3064u);
    EXPECT_EQ(std::set<unsigned char>(loader.begin(), loader.end()).size(), 256u);
    for (unsigned char nValue : {0x00, 0x55, 0xAA, 0x11, 0x13, 0xFF}) {
        SCOPED_TRACE(static_cast<int>(nValue));
        size_t nLongest = 0;
        for (size_t i = 0, nRun = 0; i < loader.size(); ++i) {
            nRun = loader[i] == nValue ? nRun + 1 : 0;
            nLongest = std::max(nLongest, nRun);
        }
        EXPECT_GE(nLongest, 8u);
    }
}

} // namespace
