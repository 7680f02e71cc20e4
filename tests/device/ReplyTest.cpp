// The reply grammar, the version order, the discovery tokeniser and the reply timer, on plain
// text and a hand-turned clock.
#include <cerrno>
#include <string>

#include <gtest/gtest.h>

#include "device/DeviceCheck.h"
#include "device/OpenFailure.h"
#include "device/Reply.h"
#include "platform/Clock.h"
#include "ports/PortMap.h"

using namespace std::string_literals;

namespace {

struct SplitCase {
    std::string m_strReply;
    bool m_bUsable;
    std::string m_strVersion;
    std::string m_strModel;
};

TEST(SplitReply, TakesTokenUpToFirstSpaceAndModelUnchanged) {
    const SplitCase cases[] = {
        {"V250 TVK-50", true, "V250", "TVK-50"},
        {"   V250 TVK-50", true, "V250", "TVK-50"},
        {"V250  TVK-50", true, "V250", " TVK-50"},
        {"V250 TVK-50 ", true, "V250", "TVK-50 "},
        {"V250 TVK 50\r\n", true, "V250", "TVK 50\r\n"},
        {"V250 ", false, "V250", ""},
        {"V250", false, "V250", ""},
        {"\tV250 TVK-50", true, "\tV250", "TVK-50"}, // only the space separates
        {"   ", false, "", ""},
        {"", false, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("reply '" + c.m_strReply + "'");
        CReplySplit split = SplitReply(c.m_strReply);
        EXPECT_EQ(split.m_bUsable, c.m_bUsable);
        EXPECT_EQ(split.m_strVersion, c.m_strVersion);
        EXPECT_EQ(split.m_strModel, c.m_strModel);
    }
}

TEST(ModelTable, ExactCaseSensitiveWholeTextLookup) {
    EXPECT_EQ(FindModel("NRP-7"), 0);
    EXPECT_EQ(FindModel("NRP-70"), 1);
    EXPECT_EQ(FindModel("TVK-35"), 2);
    EXPECT_EQ(FindModel("TVK-50"), 3);
    for (const char* psz : {"NRP-", "NRP-700", "nrp-7", "TVK-50 ", " TVK-50", "", "TVK-5"}) {
        SCOPED_TRACE(psz);
        EXPECT_EQ(FindModel(psz), -1);
    }
    EXPECT_EQ(FindModel("NRP-7\0"s), -1) << "a zero byte inside is part of the text";
    EXPECT_EQ(g_modelNames[4], nullptr);
}

TEST(ModelTable, FamilyFromFirstThreeLetters) {
    EXPECT_EQ(ScannerFlagOf("NRP-7"), 1);
    EXPECT_EQ(ScannerFlagOf("NRP-70"), 1);
    EXPECT_EQ(ScannerFlagOf("TVK-35"), 0);
    EXPECT_EQ(ScannerFlagOf("nrp-7"), 0);
    EXPECT_EQ(ScannerFlagOf("NR"), 0);
}

TEST(VersionOrder, ComparesUnsignedBytesNotNumbers) {
    const struct {
        const char* m_pszMachine;
        bool m_bPackageGreater;
    } cases[] = {
        {"V250", true},  {"V259", true},  {"V1000", true},    {"V26", true},
        {"", true},      {"V260", false}, {"V2600", false},   {"V261", false},
        {"v250", false}, {"W", false},    {"V26\x80", false}, // a byte above 0x7F is large, not
                                                              // negative
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.m_pszMachine);
        EXPECT_EQ(IsVersionGreater("V260", c.m_pszMachine), c.m_bPackageGreater);
    }
    EXPECT_TRUE(IsVersionGreater("V26\xff", "V260"));
    EXPECT_FALSE(IsVersionGreater("", ""));
}

TEST(DiscoveryTokeniser, SkipsFirstTokenThenTakesUpToSemicolon) {
    // The text starts after the dropped first byte, so the version token shows as "250".
    const struct {
        std::string m_strText;
        bool m_bFound;
        std::string m_strCandidate;
    } cases[] = {
        {"250 TVK-50;", true, "TVK-50"},
        {"250 TVK-50;V250 NRP-7;", true, "TVK-50"},
        {"  250 NRP-70", true, "NRP-70"}, // no ';' within the bytes taken: up to the end
        {"250 ;;NRP-7;", true, "NRP-7"},
        {"250  TVK-50;", true, " TVK-50"},
        {"250 TVK-50 ;", true, "TVK-50 "},
        {"250TVK-50;", false, ""},
        {"250 ", false, ""},
        {"250 ;;;", false, ""},
        {"   ", false, ""},
        {"", false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("text '" + c.m_strText + "'");
        std::string strCandidate;
        EXPECT_EQ(FindModelCandidate(c.m_strText, strCandidate), c.m_bFound);
        if (c.m_bFound) {
            EXPECT_EQ(strCandidate, c.m_strCandidate);
        }
    }
}

TEST(ZeroTerminatedText, CutAtFirstZeroByte) {
    EXPECT_EQ(CutAtZero("V250 TVK-50"s), "V250 TVK-50");
    EXPECT_EQ(CutAtZero("V250 TVK\0-50"s), "V250 TVK");
    EXPECT_EQ(CutAtZero("\0V250"s), "");
}

// A clock turned by hand; its calendar can be set apart from the monotonic time, as an operator
// or a time service sets a wall clock.
class CHandClock : public IClock {
public:
    int64_t m_nSeconds = 0;
    int64_t m_nWallShift = 0;
    int64_t GetMilliseconds() override { return m_nSeconds * 1000; }
    int64_t GetCalendarSeconds() override { return m_nSeconds + m_nWallShift; }
    void Sleep(int nMilliseconds) override { m_nSeconds += nMilliseconds / 1000; }
};

class ReplyTimerTest : public ::testing::Test {
protected:
    void SetUp() override { SetClock(&m_clock); }
    void TearDown() override { SetClock(nullptr); }
    CHandClock m_clock;
};

TEST_F(ReplyTimerTest, EndsAfterMoreThanNWholeSecondsAcrossMinuteHourAndDay) {
    const int64_t starts[] = {
        1'700'000'000 - 1'700'000'000 % 60 + 58, // second 58 of a minute
        3600 * 5 - 2,                            // turn of an hour
        86400 * 3 - 1,                           // midnight
        0,
    };
    for (int64_t nStart : starts) {
        for (int n : {1, 3}) {
            SCOPED_TRACE(std::to_string(nStart) + " n=" + std::to_string(n));
            m_clock.m_nSeconds = nStart;
            CReplyTimer timer;
            for (int i = 0; i <= n; ++i) {
                m_clock.m_nSeconds = nStart + i;
                EXPECT_FALSE(timer.HasElapsed(n));
            }
            m_clock.m_nSeconds = nStart + n + 1;
            EXPECT_TRUE(timer.HasElapsed(n));
            EXPECT_TRUE(timer.HasElapsed(n)) << "asking must not restart the timer";
        }
    }
}

TEST_F(ReplyTimerTest, WallClockSetBackOrForwardDuringAWaitChangesNothing) {
    for (int64_t nShift : {-3600, 3600, -86400}) {
        SCOPED_TRACE(nShift);
        m_clock.m_nSeconds = 5000;
        m_clock.m_nWallShift = 0;
        CReplyTimer timer;
        m_clock.m_nSeconds = 5001;
        m_clock.m_nWallShift = nShift;
        for (int i = 1; i <= 3; ++i) {
            m_clock.m_nSeconds = 5000 + i;
            EXPECT_FALSE(timer.HasElapsed(3)) << "cut short after " << i << " s";
        }
        m_clock.m_nSeconds = 5004;
        EXPECT_TRUE(timer.HasElapsed(3)) << "stretched";
    }
}

TEST_F(ReplyTimerTest, RestartCountsFromTheNewReading) {
    m_clock.m_nSeconds = 100;
    CReplyTimer timer;
    m_clock.m_nSeconds = 103;
    timer.Restart();
    m_clock.m_nSeconds = 106;
    EXPECT_FALSE(timer.HasElapsed(3));
    m_clock.m_nSeconds = 107;
    EXPECT_TRUE(timer.HasElapsed(3));
    EXPECT_FALSE(timer.HasElapsed(4));
}

TEST(OpenFailureText, NamesDeviceAndCause) {
    const std::string strPortsDir = "/home/op/.config/versionup/ports";
    const struct {
        int m_nErrno;
        const char* m_pszDevice;
        const char* m_pszExpected;
        const char* m_pszNot = nullptr;
    } cases[] = {
        {ENOENT, "/dev/ttyUSB0", "not present"},
        {ENXIO, "/dev/ttyS1", "not present"},
        {EBUSY, "/dev/ttyUSB0", "in use by another program"},
        {EWOULDBLOCK, "/dev/ttyUSB0", "in use by another program"},
        {EACCES, "/dev/ttyUSB0", "\"dialout\" group"},
        {EROFS, "/dev/ttyUSB0", "\"dialout\" group"},
        {EPERM, "/dev/ttyUSB0", "Permission denied"},
        {ENOTTY, "/dev/null", "not a serial port"},
        {EIO, "/dev/ttyUSB0", "Input/output error"},
        {0, "", "not present"},
        // The map names the link itself when it cannot look into the folder: the folder is the
        // fault, and the group would not help.
        {EACCES, "/home/op/.config/versionup/ports/com2",
         "The ports folder /home/op/.config/versionup/ports cannot be read: Permission denied.",
         "dialout"},
        {EACCES, "/home/op/.config/versionup/ports-old/com2", "\"dialout\" group",
         "cannot be read"},
        {ENOENT, "/home/op/.config/versionup/ports/ttyUSB0", "not present", "cannot be read"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.m_pszExpected);
        CPortError error{c.m_nErrno, c.m_pszDevice};
        std::string str = DescribeOpenFailure("COM2:", error, ELanguage::English, strPortsDir);
        EXPECT_NE(str.find("COM2:"), std::string::npos) << str;
        EXPECT_NE(str.find(c.m_pszDevice), std::string::npos) << str;
        EXPECT_NE(str.find(c.m_pszExpected), std::string::npos) << str;
        if (c.m_pszNot) {
            EXPECT_EQ(str.find(c.m_pszNot), std::string::npos) << str;
        }
        std::string strJa = DescribeOpenFailure("COM2:", error, ELanguage::Japanese, strPortsDir);
        EXPECT_NE(strJa, str);
        EXPECT_NE(strJa.find(c.m_pszDevice), std::string::npos) << strJa;
        if (c.m_pszNot && std::string(c.m_pszNot) == "dialout") {
            EXPECT_EQ(strJa.find("dialout"), std::string::npos) << strJa;
            EXPECT_NE(strJa.find(strPortsDir + " を"), std::string::npos) << strJa;
        }
    }
    // Without a folder of its own the text speaks of the operator's ports folder.
    const CPortError inside{EACCES, CPortMap::DefaultPortsDir() + "/com1"};
    EXPECT_NE(DescribeOpenFailure("COM1:", inside, ELanguage::English)
                  .find("The ports folder " + CPortMap::DefaultPortsDir() + " cannot be read"),
              std::string::npos);
}

// versionup-cli ports sorts a failed open as the wizard's detail does, in short.
TEST(OpenFailureText, PortStatesFollowTheSameCauses) {
    const std::string strLink = CPortMap::DefaultPortsDir() + "/com1";
    const struct {
        int m_nErrno;
        std::string m_strDevice;
        EOpenCause m_eCause;
        const char* m_pszState;
    } cases[] = {
        {0, "", EOpenCause::NoDevice, "no device"},
        {ENXIO, "/dev/ttyS1", EOpenCause::NotPresent, "absent"},
        {EWOULDBLOCK, "/dev/ttyUSB0", EOpenCause::InUse, "busy: in use by another program"},
        {EROFS, "/dev/ttyUSB0", EOpenCause::Denied, "permission denied: join the \"dialout\""},
#ifndef _WIN32 // Windows has no ports folder
        {EACCES, strLink, EOpenCause::FolderUnreadable, "cannot be opened: Permission denied"},
#endif
        {ENOTTY, "/dev/null", EOpenCause::NotSerial, "not a serial port"},
        {EIO, "/dev/ttyUSB0", EOpenCause::Other, "cannot be opened: Input/output error"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.m_pszState);
        const CPortError error{c.m_nErrno, c.m_strDevice};
        EXPECT_EQ(ClassifyOpenFailure(error, CPortMap::DefaultPortsDir()), c.m_eCause);
        const std::string strState = DescribeOpenState(error, ELanguage::English);
        EXPECT_EQ(strState.rfind(c.m_pszState, 0), 0u) << strState;
        const std::string strJa = DescribeOpenState(error, ELanguage::Japanese);
        EXPECT_NE(strJa, "");
        EXPECT_NE(strJa, strState);
    }
}

} // namespace
