// The transfer on scripted adapters and a clock that moves only when the run waits: a machine
// whose loader holds the line by flow control in the middle of the package (a flash erase) for
// the better part of a minute is waited out, a longer hold fails with its cause, and Cancel ends
// a held write within a second; on a built-in 16550 port the boot mode's echoes do not wait in
// the receive FIFO when the port may be set.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "resources/Resources.h"
#include "tests/support/FakeSerialDevice.h"
#include "tests/support/Files.h"
#include "tests/support/PauseClock.h"
#include "tests/support/ProgressLog.h"
#include "tests/support/ResourceOverride.h"
#include "tests/support/TempDir.h"
#include "transfer/Transfer.h"

namespace {

// The loader's side of the boot mode: answers the synchronisation and 0x55, echoes the length
// and every loader byte, accepts the last one with 0xAA, then takes the package silently.
std::function<std::vector<uint8_t>(uint8_t)> BootMachine(size_t nLoaderSize) {
    struct CState {
        int m_nPhase = 0;
        size_t m_nEchoed = 0;
    };
    auto pState = std::make_shared<CState>();
    return [pState, nLoaderSize](uint8_t nByte) -> std::vector<uint8_t> {
        CState& s = *pState;
        switch (s.m_nPhase) {
        case 0:
            s.m_nPhase = nByte == 0x00 ? 1 : 0;
            return {0x00};
        case 1:
            if (nByte != 0x55)
                return {};
            s.m_nPhase = 2;
            return {0xAA};
        case 2:
        case 3:
            ++s.m_nPhase;
            return {nByte};
        case 4:
            if (++s.m_nEchoed < nLoaderSize)
                return {nByte};
            s.m_nPhase = 5;
            return {nByte, 0xAA};
        default:
            return {};
        }
    };
}

// One run's world: the loader and package built in, a scripted adapter as COM1 whose far end is
// the boot mode, and a clock that moves only when the run waits (a real millisecond a wait, for
// the receive thread to store each echo).
struct CScriptedRun {
    CScriptedRun(const std::vector<uint8_t>& loader, const std::vector<uint8_t>& package)
        : m_package(package) {
        m_resources.Replace("BIN", kIdLoader, loader);
        m_resources.Replace("BIN", kIdPackage, package);
        m_script.m_fnMachine = BootMachine(loader.size());
    }
    CFakeAdapter& Plug() { return m_adapters.AddCom(m_home, 1, m_script); }
    // The package arrived whole, after whatever the boot mode sent.
    bool PackageArrived(const CFakeAdapter& adapter) const {
        const std::vector<uint8_t> sent = adapter.GetSent();
        return sent.size() >= m_package.size() &&
               std::equal(m_package.begin(), m_package.end(), sent.end() - m_package.size());
    }

    const std::vector<uint8_t>& m_package;
    CResourceOverride m_resources;
    CPortsHome m_home;
    CFakeAdapters m_adapters;
    CStepClock m_clock{0, 1};
    CClockOverride m_useClock{m_clock};
    CFakeAdapterScript m_script;
    CTransferLog m_log;
    CRecordingOperator m_op{m_log};
};

} // namespace

TEST(TransferHoldTest, LongHoldsAreWaitedOutLongerOnesFailAndCancelEndsTheWait) {
    struct CCase {
        const char* m_pszName;
        int64_t m_nDsrUpAtMs; // from the run's start; the package starts some 2 s in
        int64_t m_nCancelAtMs;
        ETransferFault m_eFault;
        size_t m_nPackageSize = 600;
    };
    const CCase cases[] = {
        {"held 15 s", 17000, kNever, ETransferFault::None},
        {"held 45 s", 47000, kNever, ETransferFault::None},
        {"held 70 s", 72000, kNever, ETransferFault::WriteFailed},
        {"held for good, Cancel after 20 s", kNever, 20000, ETransferFault::Cancelled},
        // The built-in package's last piece goes out without a cancel check before it; the hold
        // inside it still listens.
        {"one piece held for good, Cancel after 20 s", kNever, 20000, ETransferFault::Cancelled,
         200},
    };
    const std::vector<uint8_t> loader = MakeBytes(40, 5);
    for (const CCase& c : cases) {
        SCOPED_TRACE(c.m_pszName);
        const std::vector<uint8_t> package = MakeBytes(c.m_nPackageSize, 6);
        CScriptedRun run(loader, package);
        CStepClock& clock = run.m_clock;
        const int64_t nStart = clock.Now();
        // DSR only holds the package's writes: the boot mode runs without flow control.
        run.m_script.m_dsrLow = {{0, c.m_nDsrUpAtMs == kNever ? kNever : nStart + c.m_nDsrUpAtMs}};
        CFakeAdapter& adapter = run.Plug();
        CRecordingOperator& op = run.m_op;
        int64_t nCancelSeenMs = -1;
        op.m_cancelRule = [&] {
            if (clock.Now() - nStart < c.m_nCancelAtMs)
                return false;
            if (nCancelSeenMs < 0)
                nCancelSeenMs = clock.Now() - nStart;
            return true;
        };
        CTransferOutcome outcome;
        CTransferOptions options;
        options.m_pOutcome = &outcome;
        const int nResult = TransferFirmwareWithOptions("COM1:", nullptr, op, options);
        const int64_t nTookMs = clock.Now() - nStart;

        EXPECT_EQ(outcome.m_eFault, c.m_eFault);
        EXPECT_EQ(nResult, c.m_eFault == ETransferFault::None ? 1 : 0);
        if (c.m_eFault == ETransferFault::None) {
            EXPECT_TRUE(run.PackageArrived(adapter));
            EXPECT_GE(nTookMs, c.m_nDsrUpAtMs);
        } else {
            EXPECT_EQ(outcome.m_eStep, ETransferStep::Package);
        }
        if (c.m_eFault == ETransferFault::WriteFailed) {
            // Sixty seconds without a byte leaving, after the boot mode's two.
            EXPECT_GE(nTookMs, 60000);
            EXPECT_LT(nTookMs, c.m_nDsrUpAtMs);
        }
        if (c.m_eFault == ETransferFault::Cancelled) {
            ASSERT_GE(nCancelSeenMs, 0);
            EXPECT_LE(nCancelSeenMs, c.m_nCancelAtMs + 1000);
            EXPECT_LE(nTookMs - c.m_nCancelAtMs, 1000) << "Cancel to the end of the run";
            RecordProperty(c.m_nPackageSize <= 256 ? "last_piece_cancel_to_end_ms"
                                                   : "cancel_to_end_ms",
                           std::to_string(nTookMs - c.m_nCancelAtMs));
        }
        EXPECT_EQ(op.m_nAlive, 0);
        EXPECT_FALSE(adapter.IsOpen());
    }
}

TEST(TransferUartTest, BootModeLowersTheReceiveTriggerAndPutsItBack) {
    const std::vector<uint8_t> loader = MakeBytes(200, 7);
    const std::vector<uint8_t> package = MakeBytes(300, 8);
    for (const bool bAllowed : {true, false}) {
        SCOPED_TRACE(bAllowed ? "allowed" : "refused");
        CScriptedRun run(loader, package);
        run.m_script.m_nLatencyMs = 0; // a UART on the board, no USB
        run.m_script.m_nRxTrigger = 8;
        run.m_script.m_nRxTriggerError = bAllowed ? 0 : EACCES;
        CFakeAdapter& adapter = run.Plug();
        // What the FIFO costs is measured on the real clock (bench/serial/LatencyBench).
        EXPECT_EQ(TransferFirmware("COM1:", nullptr, run.m_op), 1);
        EXPECT_TRUE(run.PackageArrived(adapter));
        // Lowered for the boot mode only, and back at 8 for the package and after.
        const std::vector<int> lowered = bAllowed ? std::vector<int>{1, 8} : std::vector<int>{};
        EXPECT_EQ(adapter.GetTriggerChanges(), lowered);
        EXPECT_EQ(adapter.GetRxTrigger(), 8);
    }
}
