// The serial port on what a pseudo-terminal cannot play: modem lines held low, an output queue
// that sticks or drains slowly, a driver that takes other settings than asked, an unplugging in
// the middle of a write, the driver's low-latency flag. Scripted adapters on a clock that moves
// only when the port waits, so every time-out runs without being waited for.
#include <linux/serial.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "serial/SerialPort.h"
#include "tests/support/FakeSerialDevice.h"
#include "tests/support/Files.h"
#include "tests/support/PauseClock.h"
#include "tests/support/TempDir.h"

namespace {

class AdapterLinesTest : public ::testing::Test {
protected:
    CPortsHome m_home;
    CFakeAdapters m_adapters;
};

// Spans on the clock in force, from now on.
std::vector<std::pair<int64_t, int64_t>> LowFor(IClock& clock, int64_t nFromMs, int64_t nForMs) {
    const int64_t nNow = clock.GetMilliseconds();
    return {{nNow + nFromMs, nForMs == kNever ? kNever : nNow + nFromMs + nForMs}};
}

} // namespace

TEST_F(AdapterLinesTest, HeldLinesEndTheWriteAtItsLimitAndPausesAreWaitedOut) {
    enum class ELine { Dsr, Cts, SlowQueue };
    struct CCase {
        const char* m_pszName;
        ELine m_eLine;
        int64_t m_nLowFromMs, m_nLowForMs; // the line's low span, from the write's start
        bool m_bQuery; // "F;" at 9600 under the time-out settings' limit, else a transfer block
        int m_nResult;
        int64_t m_nMinMs, m_nMaxMs; // how long the write took on the clock
    };
    const CCase cases[] = {
        // A machine switched off or a cable loose: the query gives up after 1,004 ms.
        {"query, DSR low for good", ELine::Dsr, 0, kNever, true, 0, 1004, 1030},
        {"query, CTS low for good", ELine::Cts, 0, kNever, true, 0, 1004, 1030},
        {"query, DSR up after 600 ms", ELine::Dsr, 0, 600, true, 1, 600, 1004},
        // The transfer keeps its no-progress limit: holds of the machine's flow control in the
        // middle of the package (a loader erasing its flash) are waited out, a line that stays
        // held fails after 60 s.
        {"block, CTS held 1 s", ELine::Cts, 20, 1000, false, 1, 1000, 2000},
        {"block, CTS held 15 s", ELine::Cts, 20, 15000, false, 1, 15000, 16000},
        {"block, DSR held 45 s", ELine::Dsr, 0, 45000, false, 1, 45000, 46000},
        {"block, CTS held 70 s", ELine::Cts, 20, 70000, false, 0, 60000, 60300},
        {"block, DSR low for good", ELine::Dsr, 0, kNever, false, 0, 60000, 60300},
        // 20 bytes a second: 12.8 s for the block, but never long without a byte leaving.
        {"block, queue drains slowly", ELine::SlowQueue, 0, 0, false, 1, 12000, 14000},
    };
    for (const CCase& c : cases) {
        SCOPED_TRACE(c.m_pszName);
        CStepClock clock(0, 0);
        CClockOverride useClock(clock);
        CFakeAdapterScript script;
        if (c.m_eLine == ELine::Dsr)
            script.m_dsrLow = LowFor(clock, c.m_nLowFromMs, c.m_nLowForMs);
        else if (c.m_eLine == ELine::Cts)
            script.m_ctsLow = LowFor(clock, c.m_nLowFromMs, c.m_nLowForMs);
        else
            script.m_nDrainPerSecond = 20;
        CFakeAdapter& adapter = m_adapters.AddCom(m_home, 1, script);

        CSerialPort port;
        port.LimitWritesToTimeouts(c.m_bQuery);
        ASSERT_EQ(port.Open("COM1:", c.m_bQuery ? 9600 : 38400, "N81H"), 1);
        const std::vector<uint8_t> block = MakeBytes(256, 1);
        const int64_t nStart = clock.Now();
        const int nResult =
            c.m_bQuery ? port.WriteString("F;") : port.WriteBlock(block.data(), 256);
        const int64_t nTookMs = clock.Now() - nStart;
        EXPECT_EQ(nResult, c.m_nResult);
        EXPECT_EQ(port.GetWriteEnd(), c.m_nResult ? EWriteEnd::Done : EWriteEnd::Held);
        EXPECT_GE(nTookMs, c.m_nMinMs);
        EXPECT_LE(nTookMs, c.m_nMaxMs);
        if (c.m_nResult) {
            EXPECT_EQ(adapter.GetSent().size(), c.m_bQuery ? 2u : 256u);
        }
        EXPECT_FALSE(port.IsDead());
        port.Close();
    }
}

TEST_F(AdapterLinesTest, CancelEndsAHeldWriteWithinASecondAndNeverOneThatFlows) {
    struct CCase {
        const char* m_pszName;
        bool m_bDsr;           // else CTS
        int64_t m_nCancelAtMs; // on the clock, from the write's start
    };
    const CCase cases[] = {
        {"CTS held, Cancel after 30 s", false, 30000},
        {"DSR held, Cancel after 2 s", true, 2000},
        {"CTS held, Cancel before the hold", false, 0},
    };
    for (const CCase& c : cases) {
        SCOPED_TRACE(c.m_pszName);
        CStepClock clock(0, 0);
        CClockOverride useClock(clock);
        CFakeAdapterScript script;
        (c.m_bDsr ? script.m_dsrLow : script.m_ctsLow) = LowFor(clock, 0, kNever);
        m_adapters.AddCom(m_home, 1, script);
        CSerialPort port;
        ASSERT_EQ(port.Open("COM1:", 38400, "N81H"), 1);
        const int64_t nStart = clock.Now();
        int64_t nCancelSeenMs = -1;
        int nAsked = 0;
        port.SetCancelCheck([&] {
            ++nAsked;
            if (clock.Now() - nStart < c.m_nCancelAtMs)
                return false;
            if (nCancelSeenMs < 0)
                nCancelSeenMs = clock.Now();
            return true;
        });
        const std::vector<uint8_t> block = MakeBytes(256, 3);
        EXPECT_EQ(port.WriteBlock(block.data(), 256), 0);
        EXPECT_EQ(port.GetWriteEnd(), EWriteEnd::Cancelled);
        // The operator pressed Cancel at m_nCancelAtMs; the write ended within a second of it.
        ASSERT_GE(nCancelSeenMs, 0);
        EXPECT_LE(nCancelSeenMs - nStart, c.m_nCancelAtMs + 1000);
        EXPECT_LE(clock.Now() - nCancelSeenMs, 50);
        EXPECT_GE(nAsked, 1);
        EXPECT_FALSE(port.IsDead());
        port.Close();
    }

    // A write that flows never asks: a Cancel stays for the caller's own check between pieces.
    CStepClock clock(0, 0);
    CClockOverride useClock(clock);
    m_adapters.AddCom(m_home, 1);
    CSerialPort port;
    int nAsked = 0;
    port.SetCancelCheck([&] { return ++nAsked > 0; });
    ASSERT_EQ(port.Open("COM1:", 38400, "N81H"), 1);
    const std::vector<uint8_t> block = MakeBytes(256, 4);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(port.WriteBlock(block.data(), 256), 1);
    EXPECT_EQ(nAsked, 0);
    port.Close();
}

TEST_F(AdapterLinesTest, WriteWaitingForDsrNoticesAnUnpluggedDeviceAtOnce) {
    // Either the receive thread sees the device go first while the line status call still reads
    // DSR low, or the line status call itself fails with EIO.
    for (bool bLinesStillAnswer : {true, false}) {
        SCOPED_TRACE(bLinesStillAnswer ? "receive thread first" : "EIO from the line status");
        // Real time for the receive thread to run while the write waits.
        CStepClock clock(0, 10);
        CClockOverride useClock(clock);
        CFakeAdapterScript script;
        script.m_dsrLow = {{0, kNever}};
        CFakeAdapter& adapter = m_adapters.AddCom(m_home, 1, script);
        CSerialPort port;
        ASSERT_EQ(port.Open("COM1:", 38400, "N81H"), 1);
        adapter.HangUpAt(EFakeCall::Dsr, 30, bLinesStillAnswer);

        const std::vector<uint8_t> block = MakeBytes(256, 2);
        EXPECT_EQ(port.WriteBlock(block.data(), 256), 0);
        const int64_t nHangUpMs = adapter.GetHangUpMs();
        ASSERT_GE(nHangUpMs, 0) << "the write never reached the hang-up";
        EXPECT_LE(clock.Now() - nHangUpMs, 50);
        RecordProperty(bLinesStillAnswer ? "receive_thread_first_ms" : "eio_ms",
                       std::to_string(clock.Now() - nHangUpMs));
        EXPECT_TRUE(port.IsDead());
        EXPECT_TRUE(adapter.GetSent().empty());
        port.Close();
        EXPECT_FALSE(adapter.IsOpen());
    }
}

TEST_F(AdapterLinesTest, SettingsReadBackDifferentFailOpenAndLeaveThePortReusable) {
    struct CCase {
        const char* m_pszName;
        void (*m_fnAlter)(CLineSettings&);
        const char* m_pszRefused; // as the operator reads it
    };
    const CCase cases[] = {
        {"7 data bits", [](CLineSettings& s) { s.m_nDataBits = 7; }, "8N1 -> 7N1"},
        {"even parity", [](CLineSettings& s) { s.m_nParity = 2; }, "8N1 -> 8E1"},
        {"4800 baud", [](CLineSettings& s) { s.m_nBaud = 4800; }, "9600 bps -> 4800 bps"},
        {"two stop bits", [](CLineSettings& s) { s.m_nStopBits = 2; }, "8N1 -> 8N2"},
        {"no RTS/CTS", [](CLineSettings& s) { s.m_bCtsFlow = false; }, "RTS/CTS on -> off"},
        {"XON/XOFF on", [](CLineSettings& s) { s.m_bXonXoff = true; }, "XON/XOFF off -> on"},
        {"rate and frame",
         [](CLineSettings& s) {
             s.m_nBaud = 19200;
             s.m_nDataBits = 7;
         },
         "9600 bps -> 19200 bps, 8N1 -> 7N1"},
    };
    for (const CCase& c : cases) {
        SCOPED_TRACE(c.m_pszName);
        // The driver gets it wrong the first time only.
        auto pTimes = std::make_shared<int>(0);
        CFakeAdapterScript script;
        script.m_fnAlter = [pTimes, fnAlter = c.m_fnAlter](CLineSettings& s) {
            if ((*pTimes)++ == 0)
                fnAlter(s);
        };
        CFakeAdapter& adapter = m_adapters.AddCom(m_home, 1, script);
        CSerialPort port;
        EXPECT_EQ(port.Open("COM1:", 9600, "N81H"), 0);
        EXPECT_EQ(port.GetOpenError().m_nErrno, EINVAL);
        EXPECT_EQ(port.GetOpenError().m_strRefused, c.m_pszRefused);
        EXPECT_FALSE(adapter.IsOpen());
        EXPECT_EQ(port.WriteString("F;"), 0);
        EXPECT_EQ(port.Open("COM1:", 9600, "N81H"), 1);
        EXPECT_EQ(port.WriteString("F;"), 1);
        port.Close();
    }
}

TEST_F(AdapterLinesTest, LowLatencyAskedAtEveryOpenAndTheOldFlagsPutBack) {
    constexpr int kOther = ASYNC_SKIP_TEST | ASYNC_SPD_HI;
    struct CCase {
        const char* m_pszName;
        int m_nFlags;
        int m_nError;
        std::vector<int> m_changes; // over two opens and closes
    };
    const CCase cases[] = {
        {"adapter that takes it",
         kOther,
         0,
         {kOther | ASYNC_LOW_LATENCY, kOther, kOther | ASYNC_LOW_LATENCY, kOther}},
        {"already in low latency", kOther | ASYNC_LOW_LATENCY, 0, {}},
        {"driver without the flags", 0, EINVAL, {}},
        {"no serial driver", 0, ENOTTY, {}},
        {"not allowed", 0, EPERM, {}},
    };
    for (const CCase& c : cases) {
        SCOPED_TRACE(c.m_pszName);
        CFakeAdapterScript script;
        script.m_nSerialFlags = c.m_nFlags;
        script.m_nFlagsError = c.m_nError;
        CFakeAdapter& adapter = m_adapters.AddCom(m_home, 1, script);
        CSerialPort port;
        for (int i = 0; i < 2; ++i) {
            ASSERT_EQ(port.Open("COM1:", 9600, "N81"), 1) << "a refusal is no error";
            if (c.m_nError == 0) {
                EXPECT_TRUE(adapter.GetSerialFlags() & ASYNC_LOW_LATENCY);
            }
            EXPECT_EQ(port.WriteByte(0x55), 1);
            port.Close();
            EXPECT_EQ(adapter.GetSerialFlags(), c.m_nFlags);
        }
        EXPECT_EQ(adapter.GetFlagChanges(), c.m_changes);
    }

    // An Open that fails after low latency was set (the driver will not hold the line as
    // asked) leaves the flags as it found them, and the FIFO's trigger too.
    CFakeAdapterScript script;
    script.m_nSerialFlags = kOther;
    script.m_nRxTrigger = 8;
    script.m_fnAlter = [](CLineSettings& s) { s.m_nBaud = 4800; };
    CFakeAdapter& adapter = m_adapters.AddCom(m_home, 1, script);
    CSerialPort port;
    port.LowerReceiveTrigger(true);
    EXPECT_EQ(port.Open("COM1:", 9600, "N81"), 0);
    EXPECT_FALSE(adapter.IsOpen());
    EXPECT_EQ(adapter.GetFlagChanges(), (std::vector<int>{kOther | ASYNC_LOW_LATENCY, kOther}));
    EXPECT_EQ(adapter.GetSerialFlags(), kOther);
    EXPECT_EQ(adapter.GetTriggerChanges(), (std::vector<int>{1, 8}));
}

TEST_F(AdapterLinesTest, ReceiveTriggerLoweredOnlyWhenAskedAndPutBack) {
    struct CCase {
        const char* m_pszName;
        int m_nTrigger; // 0: no FIFO to set
        int m_nError;
        bool m_bAsk;
        std::vector<int> m_changes; // over two opens and closes
    };
    const CCase cases[] = {
        {"16550, allowed", 8, 0, true, {1, 8, 1, 8}}, {"16550, not asked", 8, 0, false, {}},
        {"16550, no udev rule", 8, EACCES, true, {}}, {"already at one byte", 1, 0, true, {}},
        {"no FIFO (USB adapter)", 0, 0, true, {}},
    };
    for (const CCase& c : cases) {
        SCOPED_TRACE(c.m_pszName);
        CFakeAdapterScript script;
        script.m_nRxTrigger = c.m_nTrigger;
        script.m_nRxTriggerError = c.m_nError;
        CFakeAdapter& adapter = m_adapters.AddCom(m_home, 1, script);
        CSerialPort port;
        port.LowerReceiveTrigger(c.m_bAsk);
        for (int i = 0; i < 2; ++i) {
            ASSERT_EQ(port.Open("COM1:", 9600, "N81"), 1) << "a refusal is no error";
            if (!c.m_changes.empty()) {
                EXPECT_EQ(adapter.GetRxTrigger(), 1);
            }
            port.Close();
            EXPECT_EQ(adapter.GetRxTrigger(), c.m_nTrigger);
        }
        EXPECT_EQ(adapter.GetTriggerChanges(), c.m_changes);
    }
}
