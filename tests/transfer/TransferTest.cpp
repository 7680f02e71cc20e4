// The transfer against the simulated machine in boot mode, with a small loader and package and
// the protocol's pauses recorded instead of slept.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <optional>

#include "platform/OsError.h"
#include "resources/Strings.h"
#include "serial/SerialPort.h"
#include "sim/BootMode.h"
#include "sim/MachineSim.h"
#include "tests/support/Files.h"
#include "tests/support/PauseClock.h"
#include "tests/support/ProgressLog.h"
#include "tests/support/ResourceOverride.h"
#include "tests/support/SimPorts.h"
#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"
#include "transfer/Transfer.h"
#include "ufw/PackageFile.h"

namespace {

constexpr int kLoaderWeight = 8;
constexpr size_t kLoaderSize = 40;
constexpr size_t kPackageSize = 600;
const char* const kPort = "COM1:";

// A run that could hang forever (a fault the transfer does not notice) is cancelled after this
// long and the test fails.
constexpr auto kRunLimit = std::chrono::seconds(30);

// A built-in package of nSize bytes that only the address space holds, none of it readable: a run
// that touched a byte of it would crash. The other resources come from the set beneath.
class CUnreadableBuiltin : public IResourceSet {
public:
    CUnreadableBuiltin(const IResourceSet& beneath, size_t nSize)
        : m_beneath(beneath), m_nSize(nSize),
          m_pData(::mmap(nullptr, nSize, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1,
                         0)) {}
    ~CUnreadableBuiltin() override {
        if (m_pData != MAP_FAILED)
            ::munmap(m_pData, m_nSize);
    }
    CResource Find(const char* pszType, int nId) const override {
        if (std::string(pszType) == "BIN" && nId == kIdPackage && m_pData != MAP_FAILED)
            return {static_cast<const unsigned char*>(m_pData), m_nSize};
        return m_beneath.Find(pszType, nId);
    }

private:
    const IResourceSet& m_beneath;
    size_t m_nSize;
    void* m_pData;
};

class TransferTest : public ::testing::Test {
public:
    TransferTest() : m_clock(m_log), m_op(m_log) {}

    void SetUp() override {
        m_loader = MakeBytes(kLoaderSize, 1);
        m_package = MakeBytes(kPackageSize, 2);
        m_resources.Replace("BIN", kIdLoader, m_loader);
        m_resources.Replace("BIN", kIdPackage, m_package);
        SetClock(&m_clock);
    }

    void TearDown() override {
        if (m_pHugeBuiltin)
            SetResourceSet(&m_resources);
        m_sim.Stop();
        SetClock(nullptr);
    }

    void StartMachine() {
        m_pBoot = StartBootMode(m_sim, m_home.GetPortsDir(), 1, m_behaviour);
        ASSERT_TRUE(m_pBoot);
        m_strDevice = m_sim.GetLink().GetDevicePath();
        m_nSimFds = CountDeviceFds(m_strDevice);
    }

    int Run() {
        CancelRule rule = m_op.m_cancelRule;
        const auto start = std::chrono::steady_clock::now();
        m_op.m_cancelRule = [this, rule, start] {
            if (std::chrono::steady_clock::now() - start > kRunLimit) {
                m_bTimedOut = true;
                return true;
            }
            return rule && rule();
        };
        return TransferFirmware(kPort, m_chosen ? &*m_chosen : nullptr, m_op);
    }

    // The run sends these bytes as a chosen package file's, in place of the built-in package.
    void UseFile(const std::vector<uint8_t>& data) { m_chosen = data; }
    // A built-in package of that size which the run may not read.
    void UseHugeBuiltin(int64_t nSize) {
        m_pHugeBuiltin = std::make_unique<CUnreadableBuiltin>(m_resources, size_t(nSize));
        SetResourceSet(m_pHugeBuiltin.get());
        ASSERT_EQ(FindResource("BIN", kIdPackage).m_nSize, size_t(nSize));
    }

    // Whatever way the run was left: the dialog is gone, the port closed and free for the next
    // attempt, and no message was shown.
    void ExpectCleanEnd(bool bLinkUp) {
        EXPECT_FALSE(m_bTimedOut) << "the run only ended by the test's time limit";
        EXPECT_EQ(m_op.m_nDialogs, 1);
        EXPECT_EQ(m_op.m_nAlive, 0) << "progress dialog left behind";
        const auto events = m_log.GetEvents();
        ASSERT_FALSE(events.empty());
        EXPECT_EQ(events.back().m_eKind, CEvent::Destroy);
        EXPECT_EQ(m_op.m_nMessages, 0);
        EXPECT_EQ(CountDeviceFds(m_strDevice), bLinkUp ? m_nSimFds : 0) << "port left open";
        if (bLinkUp) {
            CSerialPort port;
            EXPECT_EQ(port.Open(kPort, 9600, "N81"), 1) << "port not free after the run";
            port.Close();
        }
    }

    size_t PackageReceived() const { return m_pBoot->GetPackage().size(); }

    // Nothing the program wrote is left unread on the machine's side of the line; a machine
    // that hung up reads nothing more.
    bool LineRead() { return m_sim.GetLink().CountUnread() == 0; }

    // Waits until the machine has read what the program wrote: closing the port after a
    // failure discards whatever is still unread, as a purge does on a real port.
    bool MachineHas(size_t nLoader, size_t nPackage) const {
        return WaitUntil([&] {
            return m_pBoot->GetLoader().size() >= nLoader && PackageReceived() >= nPackage;
        });
    }

    CPortsHome m_home;
    CTransferLog m_log;
    CPauseClock m_clock;
    CRecordingOperator m_op;
    CResourceOverride m_resources;
    std::vector<uint8_t> m_loader;
    std::vector<uint8_t> m_package;
    CBootMode::CBehaviour m_behaviour;
    CMachineSim m_sim;
    CBootMode* m_pBoot = nullptr;
    std::string m_strDevice;
    std::optional<std::vector<uint8_t>> m_chosen;
    std::unique_ptr<CUnreadableBuiltin> m_pHugeBuiltin;
    bool m_bTimedOut = false;
    int m_nHeldFd = -1;
    int m_nSimFds = 0;
};

int64_t LoaderUnits() {
    return kLoaderWeight * static_cast<int64_t>(kLoaderSize);
}

// ---------------------------------------------------------------------------------------------
// Runs that succeed: the package from a file or built in, of the sizes where pieces change.

struct CSendCase {
    const char* m_pszName;
    bool m_bFile;
    int m_nSize; // -1: the built-in package is missing
};

void PrintTo(const CSendCase& c, std::ostream* pOut) {
    *pOut << c.m_pszName;
}

class TransferSendTest : public TransferTest, public ::testing::WithParamInterface<CSendCase> {};

TEST_P(TransferSendTest, LoaderAndPackageArriveUnchangedWithTheirProgress) {
    const CSendCase& c = GetParam();
    const std::vector<uint8_t> data = MakeBytes(c.m_nSize < 0 ? 0 : size_t(c.m_nSize), 3);
    if (c.m_bFile) {
        UseFile(data);
    } else if (c.m_nSize < 0) {
        m_resources.Hide("BIN", kIdPackage);
    } else {
        m_resources.Replace("BIN", kIdPackage, data);
    }
    // The machine reads the package while the program still holds the line, as on a cable: on a
    // busy computer it might otherwise read it only after the close, when the line no longer
    // shows the settings the package went out with.
    const int64_t nSent = LoaderUnits() + int64_t(data.size());
    m_clock.m_fnOnSleep = [&](int) {
        if (!data.empty() && m_log.LastPos() == nSent)
            WaitUntil([&] { return PackageReceived() >= data.size(); });
    };
    StartMachine();

    ASSERT_EQ(Run(), 1);
    ExpectCleanEnd(true);

    // What the machine took, byte for byte, on the right line settings.
    EXPECT_EQ(m_pBoot->GetLoaderLength(), int(kLoaderSize));
    EXPECT_EQ(m_pBoot->GetLoader(), m_loader);
    WaitUntil([&] { return PackageReceived() >= data.size(); });
    EXPECT_EQ(m_pBoot->GetPackage(), data);
    EXPECT_EQ(m_pBoot->GetSettingsFaults(), std::vector<std::string>{});
    EXPECT_GT(m_pBoot->GetLoaderChecks(), 0);
    if (!data.empty()) {
        EXPECT_GT(m_pBoot->GetPackageChecks(), 0);
    }

    const int64_t nSize = int64_t(data.size());
    const auto messages = m_log.Of(CEvent::Message);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].m_strText, LoadString(116));
    const auto ranges = m_log.Of(CEvent::Range);
    ASSERT_EQ(ranges.size(), 2u);
    EXPECT_EQ(std::make_pair(ranges[0].m_nA, ranges[0].m_nB), std::make_pair(0l, nSize - 1));
    EXPECT_EQ(std::make_pair(ranges[1].m_nA, ranges[1].m_nB),
              std::make_pair(0l, nSize + LoaderUnits() - 1));

    // Loader bytes at 8 units each, then the package piece by piece, each position set before
    // its piece; every piece is preceded by a cancel check except the last built-in one.
    std::vector<int64_t> expectedPos;
    for (size_t i = 0; i < kLoaderSize; ++i)
        expectedPos.push_back(kLoaderWeight * int64_t(i));
    std::string strExpectedPattern;
    for (int64_t nSent = 0; nSent < nSize;) {
        nSent = std::min(nSent + 256, nSize);
        expectedPos.push_back(LoaderUnits() + nSent);
        strExpectedPattern += (nSent == nSize && !c.m_bFile) ? "P" : "PC";
    }
    EXPECT_EQ(m_log.Positions(), expectedPos);

    std::string strPackagePattern;
    std::vector<int> sleeps;
    std::string strAfterLastPause;
    for (const CEvent& event : m_log.GetEvents()) {
        if (event.m_eKind == CEvent::Sleep)
            sleeps.push_back(int(event.m_nA));
        const bool bPackagePhase = sleeps.size() == 2;
        if (bPackagePhase && event.m_eKind == CEvent::Pos)
            strPackagePattern += "P";
        if (bPackagePhase && event.m_eKind == CEvent::Check)
            strPackagePattern += "C";
        if (event.m_eKind == CEvent::CursorBegin)
            strAfterLastPause += "[";
        if (event.m_eKind == CEvent::Sleep)
            strAfterLastPause += std::to_string(event.m_nA);
        if (event.m_eKind == CEvent::CursorEnd)
            strAfterLastPause += "]";
    }
    EXPECT_EQ(strPackagePattern, strExpectedPattern);
    EXPECT_EQ(sleeps, (std::vector<int>{500, 1000, 1000}));
    // The wait cursor shows for the final pause only.
    EXPECT_EQ(strAfterLastPause, "5001000[1000]");

    // The typed events: every step in order, and the bytes of the loader (each echo) and of the
    // package (each piece) from 0 to the whole.
    std::vector<int64_t> steps;
    std::vector<std::string> bytes;
    for (const CEvent& event : m_log.GetEvents()) {
        if (event.m_eKind == CEvent::Step)
            steps.push_back(event.m_nA);
        if (event.m_eKind == CEvent::Bytes)
            bytes.push_back(event.m_strText + " " + std::to_string(event.m_nA) + "/" +
                            std::to_string(event.m_nB));
    }
    using S = ETransferStep;
    std::vector<int64_t> expectedSteps;
    for (S eStep : {S::Open, S::Sync, S::BitRate, S::Length, S::Loader, S::LoaderEnd,
                    S::OpenPackage, S::Package, S::Finish})
        expectedSteps.push_back(int64_t(eStep));
    EXPECT_EQ(steps, expectedSteps);
    std::vector<std::string> expectedBytes;
    for (size_t i = 0; i <= kLoaderSize; ++i)
        expectedBytes.push_back("loader " + std::to_string(i) + "/" + std::to_string(kLoaderSize));
    for (int64_t nSent = 0;; nSent = std::min(nSent + 256, nSize)) {
        expectedBytes.push_back("package " + std::to_string(nSent) + "/" + std::to_string(nSize));
        if (nSent == nSize)
            break;
    }
    EXPECT_EQ(bytes, expectedBytes);
}

INSTANTIATE_TEST_SUITE_P(Sizes, TransferSendTest,
                         ::testing::Values(CSendCase{"EmptyFile", true, 0},
                                           CSendCase{"FileOfOneByte", true, 1},
                                           CSendCase{"FileOfOnePiece", true, 256},
                                           CSendCase{"FileOfTwoFullPieces", true, 512},
                                           CSendCase{"FileWithShortLastPiece", true, 600},
                                           CSendCase{"BuiltinOfTwoFullPieces", false, 512},
                                           CSendCase{"BuiltinWithShortLastPiece", false, 600},
                                           CSendCase{"BuiltinMissing", false, -1}),
                         [](const auto& info) { return std::string(info.param.m_pszName); });

// ---------------------------------------------------------------------------------------------
// Runs that fail: each ends with 0 and the same clean-up, wherever it was left.

struct CFaultCase {
    const char* m_pszName;
    std::function<void(TransferTest&)> m_fnArrange;
    std::function<void(TransferTest&)> m_fnCheck; // where the run stopped
    bool m_bLinkStaysUp = true;
};

void PrintTo(const CFaultCase& c, std::ostream* pOut) {
    *pOut << c.m_pszName;
}

class TransferFaultTest : public TransferTest, public ::testing::WithParamInterface<CFaultCase> {};

TEST_P(TransferFaultTest, FailsAndCleansUp) {
    const CFaultCase& c = GetParam();
    c.m_fnArrange(*this);
    if (!m_pBoot)
        StartMachine();

    EXPECT_EQ(Run(), 0);
    c.m_fnCheck(*this);
    ExpectCleanEnd(c.m_bLinkStaysUp);
}

using Behaviour = CBootMode::CBehaviour;
using Stage = CBootMode::EStage;

std::function<void(TransferTest&)> Machine(std::function<void(Behaviour&)> fnSet) {
    return [fnSet](TransferTest& t) { fnSet(t.m_behaviour); };
}

// A machine that stops answering from eStage on, and an operator who presses Cancel once the
// machine has reached eCancelAt.
std::function<void(TransferTest&)> SilentThenCancel(Stage eSilentFrom, Stage eCancelAt) {
    return [=](TransferTest& t) {
        t.m_behaviour.m_bSilent = true;
        t.m_behaviour.m_eSilentFrom = eSilentFrom;
        t.m_op.m_cancelRule = [&t, eCancelAt] { return t.m_pBoot->GetStage() == eCancelAt; };
    };
}

std::function<void(TransferTest&)> StoppedAt(Stage eStage, size_t nLoader = 0,
                                             size_t nPackage = 0) {
    return [=](TransferTest& t) {
        // Once the machine has read all that reached it, it stands where the run left it.
        WaitUntil([&] {
            return t.LineRead() && t.m_pBoot->GetStage() == eStage &&
                   t.m_pBoot->GetLoader().size() == nLoader &&
                   t.m_pBoot->GetPackage().size() == nPackage;
        });
        EXPECT_EQ(t.m_pBoot->GetStage(), eStage);
        EXPECT_EQ(t.m_pBoot->GetLoader().size(), nLoader);
        EXPECT_EQ(t.m_pBoot->GetPackage().size(), nPackage);
    };
}

// The program never reached the machine: no byte went out.
void NothingSent(TransferTest& t) {
    EXPECT_FALSE(t.m_sim.IsInBootMode());
    EXPECT_TRUE(t.m_sim.GetLink().GetRecord().empty());
}

const CFaultCase kFaultCases[] = {
    {"PortAbsent",
     [](TransferTest& t) {
         t.StartMachine();
         t.m_home.MakeAbsent(1);
     },
     [](TransferTest& t) {
         NothingSent(t);
         t.m_home.Relink(1, t.m_strDevice);
     }},
    {"PortHeldByAnotherProgram",
     [](TransferTest& t) {
         t.StartMachine();
         t.m_nHeldFd = ::open(t.m_strDevice.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
         ASSERT_GE(t.m_nHeldFd, 0);
         ASSERT_EQ(::flock(t.m_nHeldFd, LOCK_EX | LOCK_NB), 0);
     },
     [](TransferTest& t) {
         NothingSent(t);
         ::close(t.m_nHeldFd);
     }},
    {"PackageBeyond32Bits", [](TransferTest& t) { t.UseHugeBuiltin(int64_t(1) << 31); },
     NothingSent},
    {"PackageAndLoaderBeyond32Bits",
     // Alone the package fits; with the loader's weight the last position would not.
     [](TransferTest& t) { t.UseHugeBuiltin(int64_t(INT32_MAX) - LoaderUnits() + 1); },
     NothingSent},
    {"LoaderMissing", [](TransferTest& t) { t.m_resources.Hide("BIN", kIdLoader); }, NothingSent},
    {"LoaderEmpty", [](TransferTest& t) { t.m_resources.Replace("BIN", kIdLoader, {}); },
     NothingSent},
    {"SyncAnsweredWithOtherByte", Machine([](Behaviour& b) { b.m_nSyncAnswer = 0x42; }),
     [](TransferTest& t) {
         // Nothing but the synchronisation went out.
         StoppedAt(Stage::BitRate)(t);
         for (uint8_t nByte : t.m_sim.GetLink().GetRecord())
             EXPECT_EQ(nByte, 0x00);
     }},
    {"SyncAnsweredTwice", Machine([](Behaviour& b) { b.m_nSyncAnswers = 2; }),
     [](TransferTest& t) {
         // The run failed on the answer to 0x55, before any length went out. The 0x55 itself
         // may not have reached the machine: closing the port discards what is still unread.
         EXPECT_TRUE(WaitUntil([&] { return t.LineRead(); }));
         const Stage eStage = t.m_pBoot->GetStage();
         EXPECT_TRUE(eStage == Stage::BitRate || eStage == Stage::LengthHigh) << int(eStage);
     }},
    {"BitRateAnsweredWrong", Machine([](Behaviour& b) { b.m_nBitRateAnswer = 0xAB; }),
     StoppedAt(Stage::LengthHigh)},
    {"LengthHighEchoedWrong", Machine([](Behaviour& b) { b.m_nWrongLengthEcho = 0; }),
     StoppedAt(Stage::LengthLow)},
    {"LengthLowEchoedWrong", Machine([](Behaviour& b) { b.m_nWrongLengthEcho = 1; }),
     StoppedAt(Stage::Loader)},
    {"LoaderByteEchoedWrong", Machine([](Behaviour& b) { b.m_nWrongEchoAt = 5; }),
     StoppedAt(Stage::Loader, 6)},
    {"LastLoaderByteEchoedWrong",
     Machine([](Behaviour& b) { b.m_nWrongEchoAt = int(kLoaderSize) - 1; }),
     [](TransferTest& t) {
         StoppedAt(Stage::Package, kLoaderSize)(t);
         EXPECT_EQ(t.m_log.Of(CEvent::Sleep).size(), 1u);
     }},
    {"FinalAnswerWrong", Machine([](Behaviour& b) { b.m_nFinalAnswer = 0x55; }),
     [](TransferTest& t) {
         StoppedAt(Stage::Package, kLoaderSize)(t);
         EXPECT_EQ(t.m_log.Of(CEvent::Sleep).size(), 1u) << "went on past the loader";
     }},
    {"SecondOpenFails",
     [](TransferTest& t) {
         t.m_clock.m_fnOnSleep = [&t](int nMs) {
             if (nMs == 1000)
                 t.m_home.MakeAbsent(1);
         };
     },
     [](TransferTest& t) {
         StoppedAt(Stage::Package, kLoaderSize)(t);
         t.m_home.Relink(1, t.m_strDevice);
     }},
    {"CancelDuringSync", SilentThenCancel(Stage::Sync, Stage::BitRate),
     [](TransferTest& t) {
         StoppedAt(Stage::BitRate)(t);
         EXPECT_GE(t.m_pBoot->GetSyncZeros(), 1);
     }},
    {"CancelAwaitingBitRateAnswer", SilentThenCancel(Stage::BitRate, Stage::LengthHigh),
     StoppedAt(Stage::LengthHigh)},
    {"CancelAwaitingLengthHighEcho", SilentThenCancel(Stage::LengthHigh, Stage::LengthLow),
     StoppedAt(Stage::LengthLow)},
    {"CancelAwaitingLengthLowEcho", SilentThenCancel(Stage::LengthLow, Stage::Loader),
     StoppedAt(Stage::Loader)},
    {"CancelAwaitingLoaderEcho",
     [](TransferTest& t) {
         t.m_op.m_cancelRule = [&t] {
             return t.m_log.LastPos() == 3 * kLoaderWeight && t.MachineHas(4, 0);
         };
     },
     StoppedAt(Stage::Loader, 4)},
    {"CancelAwaitingFinalAnswer",
     [](TransferTest& t) {
         t.m_behaviour.m_nFinalAnswer = -1;
         t.m_op.m_cancelRule = [&t] { return t.m_pBoot->GetStage() == Stage::Package; };
     },
     StoppedAt(Stage::Package, kLoaderSize)},
    {"CancelDuringSettlePause",
     [](TransferTest& t) {
         // Not seen in the pause itself, but by the first check that follows it.
         t.m_clock.m_fnOnSleep = [&t](int nMs) {
             if (nMs == 500)
                 t.m_op.m_bPendingCancel = true;
         };
         t.m_op.m_cancelRule = [&t] {
             if (t.m_log.LastPos() == 0)
                 t.MachineHas(1, 0);
             return false;
         };
     },
     StoppedAt(Stage::Loader, 1)},
    {"CancelBeforeFilePiece",
     [](TransferTest& t) {
         t.UseFile(t.m_package);
         t.m_op.m_cancelRule = [&t] {
             return t.m_log.LastPos() == LoaderUnits() + 512 && t.MachineHas(kLoaderSize, 256);
         };
     },
     StoppedAt(Stage::Package, kLoaderSize, 256)},
    {"CancelBeforeBuiltinPiece",
     [](TransferTest& t) {
         t.m_op.m_cancelRule = [&t] {
             return t.m_log.LastPos() == LoaderUnits() + 512 && t.MachineHas(kLoaderSize, 256);
         };
     },
     StoppedAt(Stage::Package, kLoaderSize, 256)},
    {"HangUpDuringLoader", Machine([](Behaviour& b) { b.m_nHangUpAtLoaderByte = 3; }),
     StoppedAt(Stage::HungUp, 3), false},
    {"HangUpDuringPackage", Machine([](Behaviour& b) { b.m_nHangUpAtPackageByte = 300; }),
     StoppedAt(Stage::HungUp, kLoaderSize, 300), false},
    {"HangUpDuringPackageFromFile",
     [](TransferTest& t) {
         t.m_behaviour.m_nHangUpAtPackageByte = 300;
         t.UseFile(t.m_package);
     },
     StoppedAt(Stage::HungUp, kLoaderSize, 300), false},
};

INSTANTIATE_TEST_SUITE_P(Failures, TransferFaultTest, ::testing::ValuesIn(kFaultCases),
                         [](const auto& info) { return std::string(info.param.m_pszName); });

// ---------------------------------------------------------------------------------------------
// Edges where a plausible shortcut would go wrong.

TEST_F(TransferTest, BytesArrivingDuringTheSettlePauseAreDrained) {
    // Noise that would fail the first echo if it were still waiting.
    m_behaviour.m_noiseAfterLength = {uint8_t(m_loader[0] ^ 0xFF), 0x00, 0xAA, 0x55};
    m_clock.m_nRealMs = 200;
    StartMachine();

    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(m_pBoot->GetLoader(), m_loader);
    ExpectCleanEnd(true);
}

TEST_F(TransferTest, CancelDuringTheLastBuiltinPieceIsNotSeen) {
    m_op.m_fnOnPos = [this](int32_t nPos) {
        if (nPos == LoaderUnits() + int64_t(kPackageSize))
            m_op.m_bPendingCancel = true;
    };
    StartMachine();

    EXPECT_EQ(Run(), 1);
    EXPECT_TRUE(m_op.m_bPendingCancel) << "a cancel check followed the last piece";
    WaitUntil([&] { return PackageReceived() >= kPackageSize; });
    EXPECT_EQ(m_pBoot->GetPackage(), m_package);
    ExpectCleanEnd(true);
}

TEST_F(TransferTest, AFlowControlPauseShorterThanTheWriteLimitIsWaitedOut) {
    m_behaviour.m_nStallAtPackageByte = 100;
    m_behaviour.m_nStallMs = 1500;
    StartMachine();

    EXPECT_EQ(Run(), 1);
    // The machine really held the writes off meanwhile (how long a hold may last is judged on
    // the scripted adapter's clock, TransferHoldTest).
    EXPECT_TRUE(m_pBoot->HasHeldLine());
    WaitUntil([&] { return PackageReceived() >= kPackageSize; });
    EXPECT_EQ(m_pBoot->GetPackage(), m_package);
    ExpectCleanEnd(true);
}

TEST_F(TransferTest, BytesTheMachineHasNotReadWhenThePortClosesStillReachIt) {
    // The machine stops reading for the last 6,000 bytes. The pseudo-terminal takes them in
    // meanwhile, so every write completes and the port closes before the machine has them.
    m_package = MakeBytes(12000, 3);
    m_resources.Replace("BIN", kIdPackage, m_package);
    bool bStalled = false;
    m_op.m_fnOnPos = [&](int32_t nPos) {
        if (!bStalled && nPos >= LoaderUnits() + 6000) {
            bStalled = true;
            m_sim.Stall(3000);
        }
    };
    StartMachine();

    EXPECT_EQ(Run(), 1);
    ASSERT_TRUE(bStalled);
    ASSERT_TRUE(WaitUntil([&] { return LineRead() && PackageReceived() >= m_package.size(); }))
        << PackageReceived() << " of " << m_package.size() << " bytes arrived";
    EXPECT_EQ(m_pBoot->GetPackage(), m_package);
    ExpectCleanEnd(true);
}

TEST_F(TransferTest, ManyAnsweredZerosBeforeTheSyncStillSynchronise) {
    // The machine needs a run of 0x00 before it answers; the program keeps sending them.
    m_behaviour.m_nSyncZeros = 30;
    StartMachine();

    EXPECT_EQ(Run(), 1);
    EXPECT_GE(m_pBoot->GetSyncZeros(), 30);
    EXPECT_EQ(m_pBoot->GetLoader(), m_loader);
}

// ---------------------------------------------------------------------------------------------
// The package file: opened as it is, not shared, read piece by piece.

class PackageFileTest : public ::testing::Test {
protected:
    CPortsHome m_home;
    std::string Write(const std::vector<uint8_t>& data) {
        const std::string strPath = m_home.GetPortsDir() + "/../p.ufw";
        std::ofstream(strPath, std::ios::binary)
            .write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
        return strPath;
    }
};

TEST_F(PackageFileTest, ReadsPiecesUntilTheEnd) {
    const auto data = MakeBytes(600, 9);
    CPackageFile file;
    ASSERT_EQ(file.Open(Write(data)), 1);
    EXPECT_EQ(file.GetLength(), 600);
    std::vector<uint8_t> got;
    uint8_t piece[256];
    std::vector<int> counts;
    for (int n; (n = file.Read(piece, 256)) > 0;) {
        counts.push_back(n);
        got.insert(got.end(), piece, piece + n);
    }
    EXPECT_EQ(counts, (std::vector<int>{256, 256, 88}));
    EXPECT_EQ(got, data);
    EXPECT_EQ(file.Read(piece, 256), 0);
}

TEST_F(PackageFileTest, RefusesWhatCannotBeSentWithItsCause) {
    const std::string strPath = Write(MakeBytes(10, 1));
    CPackageFile first;
    ASSERT_EQ(first.Open(strPath), 1);

    struct {
        std::string m_strPath;
        int m_nErrno;
    } const cases[] = {
        {strPath, EWOULDBLOCK}, // held by another open (another program)
        {strPath + ".missing", ENOENT},
        {m_home.GetPortsDir(), EISDIR},
    };
    for (const auto& c : cases) {
        CPackageFile file;
        EXPECT_EQ(file.Open(c.m_strPath), 0) << c.m_strPath;
        EXPECT_EQ(file.GetError(), OsError(c.m_nErrno)) << c.m_strPath;
        EXPECT_FALSE(file.IsOpen());
    }
    // A descriptor fstat cannot look at gives fstat's own cause, not that of a wrong file type.
    EXPECT_EQ(CheckRegularFile(-1), OsError(EBADF));
    // Once the first holder lets go, the file opens again.
    first.Close();
    CPackageFile again;
    EXPECT_EQ(again.Open(strPath), 1);
}

TEST_F(PackageFileTest, AReadErrorIsReportedNotTakenForTheEnd) {
    CPackageFile file;
    ASSERT_EQ(file.Open("/proc/self/mem"), 1);
    uint8_t piece[256];
    EXPECT_EQ(file.Read(piece, 256), -1);
    EXPECT_EQ(file.GetError(), OsError(EIO));
}

} // namespace
