// The wire trace: its text as a person reads it and as the tests read it back, and what the port
// reports to it on a scripted adapter (open, hold, purge, close, hang-up).
#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "serial/SerialPort.h"
#include "serial/WireTrace.h"
#include "tests/support/FakeSerialDevice.h"
#include "tests/support/Files.h"
#include "tests/support/PauseClock.h"
#include "tests/support/TempDir.h"

namespace {

std::vector<std::string> Lines(const std::string& strText) {
    std::vector<std::string> lines;
    std::istringstream in(strText);
    for (std::string strLine; std::getline(in, strLine);)
        lines.push_back(strLine);
    return lines;
}

// Every byte of one direction the trace shows, in order.
std::vector<uint8_t> BytesOf(const std::string& strText, bool bSent) {
    std::vector<uint8_t> all;
    for (const std::string& strLine : Lines(strText)) {
        bool bLineSent = false;
        std::vector<uint8_t> bytes;
        if (ParseTraceBytes(strLine, bLineSent, bytes) && bLineSent == bSent)
            all.insert(all.end(), bytes.begin(), bytes.end());
    }
    return all;
}

size_t Find(const std::vector<std::string>& lines, const std::string& strPart) {
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].find(strPart) != std::string::npos)
            return i;
    }
    return std::string::npos;
}

} // namespace

TEST(WireTraceTest, LinesFollowTheTimeAndCutRunsAtSixteenBytesOrADirectionChange) {
    CWireTrace trace;
    const std::vector<uint8_t> query = {'F', ';'};
    const std::vector<uint8_t> reply = MakeBytes(20, 3);
    trace.TraceEvent(1000000, "open COM1 (/dev/x) 9600 N81 handshake off");
    // The receive thread reports its bytes after the write that caused them was timed.
    trace.TraceBytes(1004113, true, query.data(), 1);
    trace.TraceBytes(1500000, false, reply.data(), 16);
    trace.TraceBytes(1004200, true, query.data() + 1, 1);
    trace.TraceBytes(1600000, false, reply.data() + 16, 4);
    trace.TraceEvent(13518307, "outcome: completed");

    const std::vector<std::string> lines = Lines(trace.Format());
    const std::vector<std::string> expected = {
        "  0.000000  open COM1 (/dev/x) 9600 N81 handshake off",
        "  0.004113  > 46 3b" + std::string(44, ' ') + "F;",
        "  0.500000  <",
        "  0.600000  <",
        " 12.518307  outcome: completed",
    };
    ASSERT_EQ(lines.size(), expected.size()) << trace.Format();
    for (size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ(lines[i].substr(0, expected[i].size()), expected[i]);
    // The 20 received bytes: one line of 16 with the time of the first piece, then the last 4
    // with the time of the piece they came in.
    EXPECT_EQ(BytesOf(trace.Format(), false), reply);
    EXPECT_EQ(BytesOf(trace.Format(), true), query);
    bool bSent = true;
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(ParseTraceBytes(lines[2], bSent, bytes));
    EXPECT_FALSE(bSent);
    EXPECT_EQ(bytes.size(), 16u);
    ASSERT_TRUE(ParseTraceBytes(lines[3], bSent, bytes));
    EXPECT_EQ(bytes.size(), 4u);
}

TEST(WireTraceTest, BytesLinesShowPrintablesBesideTheHexOnlyWhenThereAreAny) {
    struct CCase {
        std::vector<uint8_t> m_bytes;
        std::string m_strLine;
    };
    const CCase cases[] = {
        {{0x00}, "  0.000000  > 00"},
        {{0xaa, 0x55}, "  0.000000  > aa 55" + std::string(44, ' ') + ".U"},
        {{'V', '2', 0x0d}, "  0.000000  > 56 32 0d" + std::string(41, ' ') + "V2."},
    };
    for (const CCase& c : cases) {
        CWireTrace trace;
        trace.TraceBytes(5, true, c.m_bytes.data(), c.m_bytes.size());
        const std::string strLine = Lines(trace.Format()).at(0);
        EXPECT_EQ(strLine, c.m_strLine);
        bool bSent = false;
        std::vector<uint8_t> bytes;
        ASSERT_TRUE(ParseTraceBytes(strLine, bSent, bytes)) << strLine;
        EXPECT_TRUE(bSent);
        EXPECT_EQ(bytes, c.m_bytes);
    }
    bool bSent = false;
    std::vector<uint8_t> bytes;
    EXPECT_FALSE(ParseTraceBytes("  1.000000  step loader: 3064 bytes", bSent, bytes));
    EXPECT_FALSE(ParseTraceBytes("  1.000000  hold: CTS low", bSent, bytes));
}

TEST(WireTraceTest, FileIsNamedAfterThePortAndTheStartMadeWhereAskedAndNeverOverwritten) {
    CTempDir dir;
    EXPECT_EQ(TraceFilePath("/t/", "COM1:", 0).substr(0, 9), "/t/COM1-1");
    const std::string strName = TraceFilePath("/t", "/dev/ttyUSB0", 0);
    EXPECT_EQ(strName.rfind("/t/ttyUSB0-", 0), 0u) << strName;
    EXPECT_EQ(strName.size(), std::string("/t/ttyUSB0-19700101T000000.trace").size());
    EXPECT_NE(strName.find('T', 11), std::string::npos);

    CWireTrace trace;
    trace.TraceEvent(0, "close");
    const std::string strPath = TraceFilePath(dir.Path().string(), "COM2:", 0);
    EXPECT_EQ(trace.WriteFile(strPath), 0);
    std::ifstream in(strPath);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "  0.000000  close\n");
    EXPECT_EQ(trace.WriteFile(strPath), EEXIST);
    EXPECT_EQ(trace.WriteFile(dir.Path().string() + "/new/folder/x.trace"), 0);
    EXPECT_EQ(trace.WriteFile(strPath + "/x.trace"), ENOTDIR);
}

// The port's own events on an adapter that holds CTS low in the middle of a block: the hold is
// told with its length, the bytes are those that left the wire, and purge and close follow.
TEST(WireTraceTest, PortReportsOpenHoldAndCloseWithTheBytesThatLeft) {
    CPortsHome home;
    CFakeAdapters adapters;
    CStepClock clock(0, 0);
    CClockOverride useClock(clock);
    CFakeAdapterScript script;
    const int64_t nNow = clock.GetMilliseconds();
    script.m_ctsLow = {{nNow + 20, nNow + 1020}};
    script.m_nFlagsError = ENOTTY;
    CFakeAdapter& adapter = adapters.AddCom(home, 1, script);

    CWireTrace trace;
    CSerialPort port;
    port.SetTrace(&trace);
    ASSERT_EQ(port.Open("COM1:", 38400, "N81H"), 1);
    const std::vector<uint8_t> block = MakeBytes(256, 4);
    EXPECT_EQ(port.WriteBlock(block.data(), 256), 1);
    port.Close();

    const std::string strText = trace.Format();
    const std::vector<std::string> lines = Lines(strText);
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines[0].find("  0.000000  open COM1 ("), std::string::npos) << strText;
    EXPECT_NE(lines[0].find(") 38400 N81 handshake on; read back equal; low latency refused"),
              std::string::npos)
        << strText;
    const size_t nHold = Find(lines, "hold: CTS low");
    const size_t nEnded = Find(lines, "hold ended after ");
    ASSERT_NE(nHold, std::string::npos) << strText;
    ASSERT_NE(nEnded, std::string::npos) << strText;
    EXPECT_LT(nHold, nEnded);
    const double fHeld = std::stod(lines[nEnded].substr(lines[nEnded].find("after ") + 6));
    EXPECT_GE(fHeld, 0.9) << strText;
    EXPECT_LE(fHeld, 1.1) << strText;
    EXPECT_EQ(BytesOf(strText, true), adapter.GetSent());
    EXPECT_EQ(adapter.GetSent(), block);
    EXPECT_EQ(lines.back().substr(12), "close");
    EXPECT_EQ(lines[lines.size() - 2].substr(12), "purge input");
}

// DSR changes are told whenever the port reads the line, not only inside a write: here the
// machine drops and raises DSR while the caller only polls for a byte.
TEST(WireTraceTest, DsrChangesAreToldOutsideWritesToo) {
    CPortsHome home;
    CFakeAdapters adapters;
    CStepClock clock(0, 1);
    CClockOverride useClock(clock);
    CFakeAdapterScript script;
    const int64_t nStart = clock.Now();
    script.m_dsrLow = {{0, nStart + 100}, {nStart + 300, nStart + 500}};
    adapters.AddCom(home, 1, script);

    CWireTrace trace;
    CSerialPort port;
    port.SetTrace(&trace);
    ASSERT_EQ(port.Open("COM1:", 38400, "N81H"), 1);
    while (clock.Now() < nStart + 700)
        port.WaitForByte(10);
    port.Close();

    std::vector<std::string> dsr;
    for (const std::string& strLine : Lines(trace.Format())) {
        if (strLine.find("DSR") != std::string::npos)
            dsr.push_back(strLine.substr(12));
    }
    const std::vector<std::string> expected = {"DSR low at open", "DSR raised", "DSR dropped",
                                               "DSR raised"};
    EXPECT_EQ(dsr, expected) << trace.Format();
}

TEST(WireTraceTest, AHangUpARefusedOpenAndSettingsReadBackOtherwiseAreTold) {
    CPortsHome home;
    CFakeAdapters adapters;
    CStepClock clock(0, 10);
    CClockOverride useClock(clock);
    CFakeAdapter& adapter = adapters.AddCom(home, 1);
    CWireTrace trace;
    CSerialPort port;
    port.SetTrace(&trace);
    ASSERT_EQ(port.Open("COM1:", 9600, "N81"), 1);
    adapter.HangUpAt(EFakeCall::Write, 1);
    EXPECT_EQ(port.WriteString("F;"), 0);
    home.MakeAbsent(2);
    CSerialPort absent;
    absent.SetTrace(&trace);
    EXPECT_EQ(absent.Open("COM2:", 9600, "N81"), 0);
    CFakeAdapterScript halfTaken;
    halfTaken.m_fnAlter = [](CLineSettings& applied) { applied.m_nParity = 2; };
    adapters.AddCom(home, 3, halfTaken);
    CSerialPort differs;
    differs.SetTrace(&trace);
    EXPECT_EQ(differs.Open("COM3:", 9600, "N81"), 0);

    const std::vector<std::string> lines = Lines(trace.Format());
    EXPECT_NE(Find(lines, "low latency on"), std::string::npos);
    EXPECT_NE(Find(lines, "hang-up"), std::string::npos) << trace.Format();
    EXPECT_NE(Find(lines, "open COM2 ("), std::string::npos) << trace.Format();
    EXPECT_NE(Find(lines, "failed: "), std::string::npos) << trace.Format();
    EXPECT_NE(Find(lines, "read back differs: 9600 E81"), std::string::npos) << trace.Format();
    EXPECT_NE(Find(lines, "open COM3 ("), std::string::npos) << trace.Format();
    EXPECT_TRUE(BytesOf(trace.Format(), true).empty());
}
