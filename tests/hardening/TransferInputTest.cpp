// Package files no one should choose, sent through the package file and the transfer to a
// simulated machine in boot mode: each must end in a clean failed run or a run whose bytes all
// arrived, promptly, with the progress inside its range, and never as a success the machine did
// not get.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "frontend/Operator.h"
#include "platform/Clock.h"
#include "resources/Resources.h"
#include "sim/BootMode.h"
#include "sim/MachineSim.h"
#include "tests/device/SimPorts.h"
#include "tests/hardening/TempDir.h"
#include "tests/support/ResourceOverride.h"
#include "tests/support/Unprivileged.h"
#include "transfer/PackageFile.h"
#include "transfer/Transfer.h"

namespace {

constexpr int kCom = 4;
constexpr const char* kPort = "COM4:";
constexpr int64_t kThreeGiB = int64_t(3) << 30;

// The progress dialog, checking every range and position against the one before.
class CCheckedSink : public IProgressSink {
public:
    CCheckedSink(std::atomic<int>& nBad, double dCancelAfter, std::atomic<bool>& bCancelled)
        : m_nBad(nBad), m_dCancelAfter(dCancelAfter), m_bCancelled(bCancelled) {}
    int Create() override { return 1; }
    void SetMessage(const std::string&) override {}
    void SetRange(int32_t nLower, int32_t nUpper) override {
        if (nUpper < nLower - 1)
            ++m_nBad;
        m_nLower = nLower;
        m_nUpper = nUpper;
    }
    int SetPos(int32_t nPos) override {
        if (nPos < m_nLower || int64_t(nPos) > int64_t(m_nUpper) + 1 || nPos < m_nLast)
            ++m_nBad;
        m_nLast = nPos;
        return 0;
    }
    // The operator gives up on a run that has not ended after a while.
    int CheckCancel() override {
        if (std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count() <
            m_dCancelAfter)
            return 0;
        m_bCancelled = true;
        return 1;
    }

private:
    std::atomic<int>& m_nBad;
    double m_dCancelAfter;
    std::atomic<bool>& m_bCancelled;
    std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
    int32_t m_nLower = 0, m_nUpper = -1, m_nLast = 0;
};

class CQuietOperator : public IOperator {
public:
    int ShowMessage(const CMessage&) override { return kIdOk; }
    void BeginWaitCursor() override {}
    void EndWaitCursor() override {}
    bool RunPortDialog(std::string&) override { return false; }
    bool RunFileOpenDialog(const std::string&, const std::string&, std::string&) override {
        return false;
    }
    std::unique_ptr<IProgressSink> CreateProgress() override {
        return std::make_unique<CCheckedSink>(m_nBadProgress, m_dCancelAfter, m_bCancelled);
    }
    std::atomic<int> m_nBadProgress{0};
    double m_dCancelAfter = 1e9;
    std::atomic<bool> m_bCancelled{false};
};

// The protocol's pauses cut to a few milliseconds; the simulated machine needs no time.
class CShortPauseClock : public IClock {
public:
    int64_t GetMilliseconds() override {
        using namespace std::chrono;
        return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    }
    int64_t GetCalendarSeconds() override {
        using namespace std::chrono;
        return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
    }
    void Sleep(int nMilliseconds) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(nMilliseconds, 20)));
    }
};

struct CRun {
    int m_nResult = -1;
    std::vector<uint8_t> m_loader, m_package; // what the machine received
    bool m_bLoaderStarted = false;            // the machine saw any byte of the boot exchange
    int m_nBadProgress = 0;
    bool m_bCancelled = false; // the run had to be cancelled
};

class TransferInput : public ::testing::Test {
protected:
    TransferInput() {
        TestPortsDir();
        // A small loader keeps each run short; the exchange is the same for any length.
        m_resources.Replace("BIN", kIdLoader, {0x5A, 0x00, 0xFF, 0x11, 0x13, 0x0D, 0x0A, 0xAA});
        SetClock(&m_clock);
    }
    ~TransferInput() override { SetClock(nullptr); }

    std::vector<uint8_t> Loader() const {
        const CResource res = FindResource("BIN", kIdLoader);
        return {res.m_pData, res.m_pData + res.m_nSize};
    }

    CRun Transfer(CPackageFile* pFile, CBootMode::CBehaviour behaviour = {},
                  double dCancelAfter = 1e9) {
        CMachineSim sim;
        auto pBoot = std::make_unique<CBootMode>(behaviour);
        CBootMode& boot = *pBoot;
        sim.SetBootMode(std::move(pBoot));
        EXPECT_TRUE(sim.Start(TestPortsDir(), kCom));
        CQuietOperator op;
        op.m_dCancelAfter = dCancelAfter;
        CRun run;
        run.m_nResult = TransferFirmware(kPort, pFile, op);
        run.m_loader = boot.GetLoader();
        run.m_package = boot.GetPackage();
        run.m_bLoaderStarted = boot.GetSyncZeros() > 0;
        run.m_nBadProgress = op.m_nBadProgress;
        run.m_bCancelled = op.m_bCancelled;
        sim.Stop();
        return run;
    }

    CResourceOverride m_resources;
    CShortPauseClock m_clock;
    CTempDir m_dir;
};

std::vector<uint8_t> Bytes(size_t nCount) {
    std::vector<uint8_t> bytes(nCount);
    for (size_t i = 0; i < nCount; ++i)
        bytes[i] = static_cast<uint8_t>(i * 7 + i / 256);
    return bytes;
}

void WriteFile(const std::string& strPath, const std::vector<uint8_t>& bytes) {
    std::ofstream(strPath, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

TEST_F(TransferInput, ShortFilesArriveWhole) {
    for (size_t nSize : {size_t(0), size_t(10), size_t(255), size_t(256), size_t(257)}) {
        SCOPED_TRACE(std::to_string(nSize) + " bytes");
        const std::string strPath = m_dir / ("short" + std::to_string(nSize) + ".ufw");
        WriteFile(strPath, Bytes(nSize));
        CPackageFile file;
        ASSERT_EQ(file.Open(strPath), 1);
        const CRun run = Transfer(&file);
        EXPECT_EQ(run.m_nResult, 1);
        EXPECT_EQ(run.m_loader, Loader());
        EXPECT_EQ(run.m_package, Bytes(nSize));
        EXPECT_EQ(run.m_nBadProgress, 0);
    }
}

TEST_F(TransferInput, FileDeletedOrReplacedAfterOpeningSendsWhatWasOpened) {
    // The operator's file manager may move or overwrite it while the wizard waits at a step.
    const std::string strPath = m_dir / "package.ufw";
    for (const char* pszWhat : {"deleted", "replaced"}) {
        SCOPED_TRACE(pszWhat);
        WriteFile(strPath, Bytes(700));
        CPackageFile file;
        ASSERT_EQ(file.Open(strPath), 1);
        if (std::string(pszWhat) == "deleted") {
            ASSERT_EQ(unlink(strPath.c_str()), 0);
        } else {
            WriteFile(strPath + ".new", std::vector<uint8_t>(300, 0xEE));
            ASSERT_EQ(rename((strPath + ".new").c_str(), strPath.c_str()), 0);
        }
        const CRun run = Transfer(&file);
        EXPECT_EQ(run.m_nResult, 1);
        EXPECT_EQ(run.m_package, Bytes(700));
    }
}

TEST_F(TransferInput, ThreeGiBFailsBeforeAnythingIsSent) {
    // Sparse: 3 GiB on the file system's word, no room on the disk. Its progress would pass 32
    // bits, and at 38400 baud it would take nine days.
    const std::string strPath = m_dir / "huge.ufw";
    WriteFile(strPath, Bytes(64));
    ASSERT_EQ(truncate(strPath.c_str(), kThreeGiB), 0);
    CPackageFile file;
    ASSERT_EQ(file.Open(strPath), 1);
    EXPECT_EQ(file.GetLength(), kThreeGiB);
    const auto start = std::chrono::steady_clock::now();
    const CRun run = Transfer(&file);
    EXPECT_EQ(run.m_nResult, 0);
    EXPECT_FALSE(run.m_bLoaderStarted) << "nothing may reach the machine";
    EXPECT_TRUE(run.m_package.empty());
    EXPECT_EQ(run.m_nBadProgress, 0);
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 5);
}

TEST_F(TransferInput, WhatIsNoFileIsRefusedAtOnceWithItsCause) {
    ASSERT_EQ(mkfifo((m_dir / "fifo.ufw").c_str(), 0666), 0);
    ASSERT_EQ(mkdir((m_dir / "folder.ufw").c_str(), 0755), 0);
    WriteFile(m_dir / "locked.ufw", Bytes(100));
    ASSERT_EQ(chmod((m_dir / "locked.ufw").c_str(), 0200), 0);
    ASSERT_EQ(symlink("/nonexistent/package.ufw", (m_dir / "dangling.ufw").c_str()), 0);
    ASSERT_EQ(symlink("/dev/zero", (m_dir / "zero.ufw").c_str()), 0);

    const struct {
        const char* m_pszName;
        std::string m_strPath;
        bool m_bAsNobody;
    } cases[] = {
        {"a FIFO without a writer", m_dir / "fifo.ufw", false},
        {"a folder", m_dir / "folder.ufw", false},
        {"no read permission, as nobody", m_dir / "locked.ufw", true},
        {"a dangling link", m_dir / "dangling.ufw", false},
        {"an endless character device", m_dir / "zero.ufw", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.m_pszName);
        // The open in a child (no threads there): one that blocks fails this case only.
        constexpr int kOpened = 3;
        const int nOpen = RunInChild(
            [&] {
                CPackageFile file;
                if (file.Open(c.m_strPath) == 1)
                    return kOpened;
                return file.GetError() != 0 && !file.IsOpen() ? 0 : 1;
            },
            10000, c.m_bAsNobody);
        EXPECT_TRUE(nOpen == 0 || nOpen == kOpened)
            << (nOpen == kChildHung ? "the open hung" : "refused without a cause, or crashed");
        if (nOpen != kOpened || c.m_bAsNobody)
            continue;
        // Opened: then the run must fail by itself, without sending a byte of it.
        CPackageFile file;
        ASSERT_EQ(file.Open(c.m_strPath), 1);
        const CRun run = Transfer(&file, {}, 10.0);
        EXPECT_EQ(run.m_nResult, 0);
        EXPECT_FALSE(run.m_bCancelled) << "the run went on until the operator cancelled";
        EXPECT_TRUE(run.m_package.empty());
        EXPECT_EQ(run.m_nBadProgress, 0);
    }
}

TEST_F(TransferInput, HangUpBeforeTheLastBytesLeftIsNoSuccess) {
    // Every piece is handed to the port before the machine has read them all; if the cable goes
    // then, the machine never got the end of its firmware and the run must say so.
    SetClock(nullptr); // the real closing pause, in which the hang-up is seen
    const std::string strPath = m_dir / "package.ufw";
    WriteFile(strPath, Bytes(1024));
    for (int nByte : {1023, 768}) {
        SCOPED_TRACE("hang-up at package byte " + std::to_string(nByte));
        CPackageFile file;
        ASSERT_EQ(file.Open(strPath), 1);
        CBootMode::CBehaviour behaviour;
        behaviour.m_nHangUpAtPackageByte = nByte;
        const CRun run = Transfer(&file, behaviour);
        EXPECT_EQ(run.m_package.size(), size_t(nByte));
        EXPECT_EQ(run.m_nResult, 0);
    }
}

} // namespace
