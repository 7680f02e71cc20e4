// What the Windows side of platform/ and ports/ does that the shared tests cannot see: COM names
// without a map, the errors of a port that is not there, sleeps shorter than a millisecond, and
// package files opened, locked and read at an offset through Win32, and the causes their errors
// name.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <thread>

#include <stdlib.h>

#include "platform/Clock.h"
#include "platform/FileAccess.h"
#include "platform/System.h"
#include "platform/Win32Api.h"
#include "ports/PortMap.h"
#include "ports/SerialDeviceWin32.h"
#include "resources/Strings.h"
#include "ufw/PackageFile.h"
#include "win32/WindowThread.h"
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

// The window's calls before its window exists: a worker must not take its own thread for the
// window's and run the window's work there.
TEST(WinWindowThread, BeforeAttachOnlyTheMakingThreadIsTheWindows) {
    auto pThread = std::make_shared<CWin32WindowThread>();
    CWindowCalls calls(pThread);
    EXPECT_TRUE(pThread->IsWindowThread());
    bool bOtherIsWindow = true, bCalled = false, bRan = false;
    std::thread([&] {
        bOtherIsWindow = pThread->IsWindowThread();
        bCalled = calls.Call([&] { bRan = true; });
    }).join();
    EXPECT_FALSE(bOtherIsWindow);
    EXPECT_FALSE(bCalled);
    EXPECT_FALSE(bRan);
    EXPECT_TRUE(calls.Call([&] { bRan = true; }));
    EXPECT_TRUE(bRan);
}

// The error box names the cause Windows gave, whichever call met it: nothing the table does not
// know becomes a cause of its own (a hardware fault, say).
TEST(WinFileErrors, EachWindowsCodeGetsTheTextOfItsCause) {
    const char* const pszNotFound = "%1 was not found.";
    const char* const pszBadPath = "%1 contains an invalid path.";
    const char* const pszHardIo = "A hardware I/O error was reported while accessing %1.";
    const char* const pszUnknown = "An unknown error occurred while accessing %1.";
    const struct {
        DWORD m_dwError;
        const char* m_pszText;
    } cases[] = {
        {ERROR_FILE_NOT_FOUND, pszNotFound},
        {ERROR_PATH_NOT_FOUND, pszNotFound},
        {ERROR_INVALID_NAME, pszBadPath},
        {ERROR_FILENAME_EXCED_RANGE, pszBadPath},
        {ERROR_TOO_MANY_OPEN_FILES,
         "%1 could not be opened because there are too many open files."},
        {ERROR_ACCESS_DENIED, "Access to %1 was denied."},
        {ERROR_SHARING_VIOLATION, "A sharing violation occurred while accessing %1."},
        {ERROR_LOCK_VIOLATION, "A locking violation occurred while accessing %1."},
        {ERROR_CRC, pszHardIo},
        {ERROR_READ_FAULT, pszHardIo},
        {ERROR_NOT_ENOUGH_MEMORY, pszUnknown},
        {ERROR_INVALID_PARAMETER, pszUnknown},
        {ERROR_NETNAME_DELETED, pszUnknown},
    };
    const std::string strPath = "C:\\Users\\op\\package.ufw";
    for (const auto& c : cases) {
        EXPECT_EQ(FormatFileError(ErrnoOfWinError(c.m_dwError), strPath),
                  FillPlaceholders(c.m_pszText, {strPath}))
            << "Windows error " << c.m_dwError;
    }
}

// What another program does to the package file reaches the box through the real calls.
TEST_F(WinPackageFile, AFileAnotherProgramHoldsUnsharedIsASharingViolation) {
    const fs::path path = m_dir / "package.ufw";
    const HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CPackageFile file;
    EXPECT_EQ(file.Open(path.string()), 0);
    CloseHandle(h);
    EXPECT_EQ(FormatFileError(file.GetError().value(), "p"),
              "A sharing violation occurred while accessing p.");
}

} // namespace
