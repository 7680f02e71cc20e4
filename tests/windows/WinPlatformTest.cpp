// What the Windows side of platform/ does that the shared tests cannot see: COM names without a
// map, the errors of a port that is not there, sleeps shorter than a millisecond, and package
// files opened, locked and read at an offset through Win32.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <stdlib.h>

#include "platform/Clock.h"
#include "platform/FileAccess.h"
#include "platform/PortMap.h"
#include "platform/SerialDeviceWin32.h"
#include "platform/System.h"
#include "ufw/PackageFile.h"
#include "wizard/FileError.h"

namespace {

namespace fs = std::filesystem;

struct CNameCase {
    const char* m_pszName;
    const char* m_pszDevice; // "" when the name is none
};

TEST(WinPortNames, EveryComNumberWindowsGivesOpensAsItself) {
    const CNameCase cases[] = {
        {"COM1:", "\\\\.\\COM1"},
        {"com4", "\\\\.\\COM4"},
        {"COM12", "\\\\.\\COM12"},
        {"COM256:", "\\\\.\\COM256"},
        {"COM257", ""},
        {"COM0", ""},
        {"COM01", ""},
        {"COM", ""},
        {"COM1::", ""},
        {"LPT1", ""},
        {"\\\\.\\COM7", "\\\\.\\COM7"},
        {"/dev/ttyS0", ""},
    };
    for (const CNameCase& c : cases)
        EXPECT_EQ(ResolvePortDevice(c.m_pszName), c.m_pszDevice) << c.m_pszName;
}

TEST(WinSerialDevice, PortThatIsNotThereIsAbsentAndNothingIsHeld) {
    CWinSerialDevice device;
    EXPECT_EQ(device.Open("\\\\.\\COM199"), ENOENT);
    EXPECT_FALSE(device.IsOpen());
    // A file is no serial port, whatever its name says.
    const fs::path file = fs::temp_directory_path() / "versionup-not-a-port";
    std::ofstream(file) << "x";
    EXPECT_EQ(device.Open(file.string()), ENOTTY);
    EXPECT_FALSE(device.IsOpen());
    fs::remove(file);
}

// Each write waits out its bytes' wire time, and the synchronisation's 0x00 bytes are paced by
// it alone: a sleep that ends early floods the machine with them.
TEST(WinClock, SleepsAtLeastTheTimeAskedBelowAMillisecondToo) {
    // 20 bits at 115200 baud, one byte at 38400 and at 9600, two at 9600
    for (const int64_t nUs : {174, 260, 1042, 2084}) {
        const auto start = std::chrono::steady_clock::now();
        GetClock().SleepMicroseconds(nUs);
        const auto nSleptUs = std::chrono::duration_cast<std::chrono::microseconds>(
                                  std::chrono::steady_clock::now() - start)
                                  .count();
        EXPECT_GE(nSleptUs, nUs);
    }
}

class WinPackageFile : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = fs::temp_directory_path() /
                ("versionup-files-" +
                 std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
        fs::create_directories(m_dir);
        std::ofstream(m_dir / "package.ufw", std::ios::binary)
            .write("0123456789\r\nABC\x1a\0end", 19);
    }
    void TearDown() override { fs::remove_all(m_dir); }
    fs::path m_dir;
};

TEST_F(WinPackageFile, ReadAsBytesAndAtAnOffsetWithoutMovingOn) {
    const int nFd = OpenFileToRead((m_dir / "package.ufw").string());
    ASSERT_GE(nFd, 0);
    int64_t nLength = 0;
    EXPECT_EQ(GetRegularFileLength(nFd, &nLength), 0);
    EXPECT_EQ(nLength, 19);
    char buf[32] = {};
    // CR LF and Ctrl-Z stay bytes: no text mode anywhere.
    EXPECT_EQ(ReadFileAt(nFd, buf, 8, 10), 8);
    EXPECT_EQ(std::string(buf, 8), std::string("\r\nABC\x1a\0e", 8));
    EXPECT_EQ(ReadFileSome(nFd, buf, 4), 4);
    EXPECT_EQ(std::string(buf, 4), "0123");
    EXPECT_EQ(ReadFileAt(nFd, buf, 8, 19), 0);
    CloseFile(nFd);
}

TEST_F(WinPackageFile, WhatIsNoRegularFileOrNotThereIsRefusedWithItsCause) {
    errno = 0;
    EXPECT_LT(OpenFileToRead((m_dir / "missing.ufw").string()), 0);
    EXPECT_EQ(errno, ENOENT);
    const int nFd = OpenFileToRead(m_dir.string());
    ASSERT_GE(nFd, 0);
    EXPECT_EQ(GetRegularFileLength(nFd, nullptr), EISDIR);
    CloseFile(nFd);
    CPackageFile file;
    EXPECT_EQ(file.Open(m_dir.string()), 0);
    EXPECT_EQ(file.GetError().value(), EISDIR);
}

TEST_F(WinPackageFile, APackageBeingSentIsLockedAgainstAnotherSender) {
    CPackageFile first;
    ASSERT_EQ(first.Open((m_dir / "package.ufw").string()), 1);
    CPackageFile second;
    EXPECT_EQ(second.Open((m_dir / "package.ufw").string()), 0);
    EXPECT_EQ(second.GetError().value(), EWOULDBLOCK);
    first.Close();
    EXPECT_EQ(second.Open((m_dir / "package.ufw").string()), 1);
}

// Names outside the ANSI code page reach Windows whole: a new file in new folders named in
// Japanese, never one that is there already, the environment's value, and the full path an
// error box shows.
TEST_F(WinPackageFile, NamesInJapaneseCrossIntoWindowsWhole) {
    const std::u8string base = m_dir.u8string();
    const std::string strBase(base.begin(), base.end());
    const std::string strFolder = strBase + "\\\xE8\xA8\x98\xE9\x8C\xB2\\\xE3\x83\x88\xE3\x83\xAC";
    const std::string strFile = strFolder + "\\COM1-20261211T093000.trace";
    EXPECT_EQ(WriteNewFile(strFile, "trace\n"), 0);
    EXPECT_EQ(WriteNewFile(strFile, "again\n"), EEXIST);
    const std::u8string wide(strFile.begin(), strFile.end());
    std::ifstream in(fs::path(wide), std::ios::binary);
    std::string strText((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(strText, "trace\n") << "not where it was asked to be, or overwritten";

    // The runtime's wide setter sets the system's environment too.
    ASSERT_EQ(_wputenv_s(L"VERSIONUP_TEST_FOLDER", fs::path(wide).c_str()), 0);
    std::string strValue;
    ASSERT_TRUE(GetEnvironmentText("VERSIONUP_TEST_FOLDER", strValue));
    EXPECT_EQ(strValue, strFile);
    EXPECT_FALSE(GetEnvironmentText("VERSIONUP_TEST_NOT_SET", strValue));

    EXPECT_EQ(GetFullPath(strFile), strFile);
}

} // namespace
