// Package files no one should choose, sent through the package file and the transfer to a
// simulated machine in boot mode: each must end in a clean failed run or a run whose bytes all
// arrived, promptly, with the progress inside its range, and never as a success the machine did
// not get.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/Clock.h"
#include "resources/Resources.h"
#include "sim/BootMode.h"
#include "sim/MachineSim.h"
#include "tests/support/CheckedProgress.h"
#include "tests/support/Files.h"
#include "tests/support/PauseClock.h"
#include "tests/support/ResourceOverride.h"
#include "tests/support/SimPorts.h"
#include "tests/support/TempDir.h"
#include "tests/support/Unprivileged.h"
#include "transfer/PackageFile.h"
#include "transfer/Transfer.h"

namespace {

constexpr int kCom = 4;
constexpr const char* kPort = "COM4:";
constexpr int64_t kThreeGiB = int64_t(3) << 30;

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

    CRun Transfer(CPackageFile* pFile, CBootMode::CBehaviour behaviour = {},
                  int64_t nCancelAfterChecks = INT64_MAX) {
        CMachineSim sim;
        CBootMode* pBoot = StartBootMode(sim, TestPortsDir(), kCom, behaviour);
        EXPECT_TRUE(pBoot);
        CBootMode& boot = *pBoot;
        CCheckingOperator op;
        op.m_nCancelAfterChecks = nCancelAfterChecks;
        CRun run;
        run.m_nResult = TransferFirmware(kPort, pFile, op);
        run.m_loader = boot.GetLoader();
        run.m_package = boot.GetPackage();
        run.m_bLoaderStarted = boot.GetSyncZeros() > 0;
        run.m_nBadProgress = op.m_nBadProgress;
        run.m_bCancelled = op.Cancelled();
        sim.Stop();
        return run;
    }

    CResourceOverride m_resources;
    // The protocol's pauses cut to a few milliseconds; the simulated machine needs no time.
    CPauseClock m_clock{20};
    CTempDir m_dir;
};

TEST_F(TransferInput, ShortFilesArriveWhole) {
    for (size_t nSize : {size_t(0), size_t(10), size_t(255), size_t(256), size_t(257)}) {
        SCOPED_TRACE(std::to_string(nSize) + " bytes");
        const std::string strPath = m_dir / ("short" + std::to_string(nSize) + ".ufw");
        WriteBytes(strPath, MakeBytes(nSize, 5));
        CPackageFile file;
        ASSERT_EQ(file.Open(strPath), 1);
        const CRun run = Transfer(&file);
        EXPECT_EQ(run.m_nResult, 1);
        EXPECT_EQ(run.m_loader, BuiltinBytes(kIdLoader));
        EXPECT_EQ(run.m_package, MakeBytes(nSize, 5));
        EXPECT_EQ(run.m_nBadProgress, 0);
    }
}

TEST_F(TransferInput, FileDeletedOrReplacedAfterOpeningSendsWhatWasOpened) {
    // The operator's file manager may move or overwrite it while the wizard waits at a step.
    const std::string strPath = m_dir / "package.ufw";
    for (const char* pszWhat : {"deleted", "replaced"}) {
        SCOPED_TRACE(pszWhat);
        WriteBytes(strPath, MakeBytes(700, 5));
        CPackageFile file;
        ASSERT_EQ(file.Open(strPath), 1);
        if (std::string(pszWhat) == "deleted") {
            ASSERT_EQ(unlink(strPath.c_str()), 0);
        } else {
            WriteBytes(strPath + ".new", std::vector<uint8_t>(300, 0xEE));
            ASSERT_EQ(rename((strPath + ".new").c_str(), strPath.c_str()), 0);
        }
        const CRun run = Transfer(&file);
        EXPECT_EQ(run.m_nResult, 1);
        EXPECT_EQ(run.m_package, MakeBytes(700, 5));
    }
}

TEST_F(TransferInput, ThreeGiBFailsBeforeAnythingIsSent) {
    // Sparse: 3 GiB on the file system's word, no room on the disk. Its progress would pass 32
    // bits, and at 38400 baud it would take nine days.
    const std::string strPath = m_dir / "huge.ufw";
    WriteBytes(strPath, MakeBytes(64, 5));
    ASSERT_EQ(truncate(strPath.c_str(), kThreeGiB), 0);
    CPackageFile file;
    ASSERT_EQ(file.Open(strPath), 1);
    EXPECT_EQ(file.GetLength(), kThreeGiB);
    const CRun run = Transfer(&file);
    EXPECT_EQ(run.m_nResult, 0);
    EXPECT_FALSE(run.m_bLoaderStarted) << "nothing may reach the machine";
    EXPECT_TRUE(run.m_package.empty());
    EXPECT_EQ(run.m_nBadProgress, 0);
    EXPECT_FALSE(run.m_bCancelled);
}

TEST_F(TransferInput, WhatIsNoFileIsRefusedAtOnceWithItsCause) {
    ASSERT_EQ(mkfifo((m_dir / "fifo.ufw").c_str(), 0666), 0);
    ASSERT_EQ(mkdir((m_dir / "folder.ufw").c_str(), 0755), 0);
    WriteBytes(m_dir / "locked.ufw", MakeBytes(100, 5));
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
        // Far more polls than a run of these few bytes makes; one that never ends is cancelled.
        const CRun run = Transfer(&file, {}, 20000);
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
    WriteBytes(strPath, MakeBytes(1024, 5));
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
