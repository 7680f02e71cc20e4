// Package files no one should choose, read and checked as a chosen package is and sent through the
// transfer to a simulated machine in boot mode: each must be refused with its cause before the port
// is opened, or end in a clean failed run or a run whose bytes all arrived, promptly, with the
// progress inside its range, and never as a success the machine did not get.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ufw/PackageCheck.h"
#include "platform/Clock.h"
#include "resources/Resources.h"
#include "sim/BootMode.h"
#include "sim/MachineSim.h"
#include "tests/support/CheckedProgress.h"
#include "tests/support/Files.h"
#include "tests/support/Packages.h"
#include "tests/support/PauseClock.h"
#include "tests/support/ResourceOverride.h"
#include "tests/support/SimPorts.h"
#include "tests/support/TempDir.h"
#include "tests/support/Unprivileged.h"
#include "transfer/Transfer.h"

namespace {

constexpr int kCom = 4;
constexpr const char* kPort = "COM4:";
constexpr int64_t kThreeGiB = int64_t(3) << 30;

struct CRun {
    int m_nResult = -1;
    std::vector<uint8_t> m_loader, m_package; // what the machine received
    int m_nBadProgress = 0;
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

    CRun Transfer(const std::vector<uint8_t>* pPackage, CBootMode::CBehaviour behaviour = {}) {
        CMachineSim sim;
        CBootMode* pBoot = StartBootMode(sim, TestPortsDir(), kCom, behaviour);
        EXPECT_TRUE(pBoot);
        CBootMode& boot = *pBoot;
        CCheckingOperator op;
        CRun run;
        run.m_nResult = TransferFirmware(kPort, pPackage, op);
        run.m_loader = boot.GetLoader();
        run.m_package = boot.GetPackage();
        run.m_nBadProgress = op.m_nBadProgress;
        sim.Stop();
        return run;
    }

    CResourceOverride m_resources;
    // The protocol's pauses cut to a few milliseconds; the simulated machine needs no time.
    CPauseClock m_clock{20};
    CTempDir m_dir;
};

TEST_F(TransferInput, ShortPackagesArriveWhole) {
    for (size_t nSize : {size_t(0), size_t(10), size_t(255), size_t(256), size_t(257)}) {
        SCOPED_TRACE(std::to_string(nSize) + " bytes");
        const std::vector<uint8_t> package = MakeBytes(nSize, 5);
        const CRun run = Transfer(&package);
        EXPECT_EQ(run.m_nResult, 1);
        EXPECT_EQ(run.m_loader, BuiltinBytes(kIdLoader));
        EXPECT_EQ(run.m_package, MakeBytes(nSize, 5));
        EXPECT_EQ(run.m_nBadProgress, 0);
    }
}

TEST_F(TransferInput, FileDeletedOrReplacedAfterTheCheckSendsWhatWasChecked) {
    // The operator's file manager may move or overwrite it while the wizard waits at a step.
    const std::string strPath = m_dir / "package.ufw";
    const std::vector<uint8_t> good = MakeSmallPackage(700, 5);
    for (const char* pszWhat : {"deleted", "replaced"}) {
        SCOPED_TRACE(pszWhat);
        WriteBytes(strPath, good);
        const CLoadedPackage loaded = LoadCheckedPackage(strPath);
        ASSERT_EQ(loaded.m_eResult, EPackageLoad::Ok);
        if (std::string(pszWhat) == "deleted") {
            ASSERT_EQ(unlink(strPath.c_str()), 0);
        } else {
            WriteBytes(strPath + ".new", std::vector<uint8_t>(300, 0xEE));
            ASSERT_EQ(rename((strPath + ".new").c_str(), strPath.c_str()), 0);
        }
        const CRun run = Transfer(&loaded.m_bytes);
        EXPECT_EQ(run.m_nResult, 1);
        EXPECT_EQ(run.m_package, good);
    }
}

TEST_F(TransferInput, PaddingAfterTheEndTagPassesTheCheckAndGoesOutAsStored) {
    // As a text-mode copy and a block-padded one leave it.
    std::vector<uint8_t> padded = MakeSmallPackage(700, 5);
    padded.insert(padded.end(), {'\r', '\n', 0x1A, 0, 0, 0});
    const std::string strPath = m_dir / "padded.ufw";
    WriteBytes(strPath, padded);
    const CLoadedPackage loaded = LoadCheckedPackage(strPath);
    ASSERT_EQ(loaded.m_eResult, EPackageLoad::Ok) << loaded.m_fault.m_strWhat;
    const CRun run = Transfer(&loaded.m_bytes);
    EXPECT_EQ(run.m_nResult, 1);
    EXPECT_EQ(run.m_package, padded);
}

TEST_F(TransferInput, ThreeGiBIsRefusedBeforeAnythingIsRead) {
    // Sparse: 3 GiB on the file system's word, no room on the disk. Its progress would pass 32
    // bits, and at 38400 baud it would take nine days.
    const std::string strPath = m_dir / "huge.ufw";
    WriteBytes(strPath, MakeBytes(64, 5));
    ASSERT_EQ(truncate(strPath.c_str(), kThreeGiB), 0);
    const CLoadedPackage loaded = LoadCheckedPackage(strPath);
    EXPECT_EQ(loaded.m_eResult, EPackageLoad::TooLarge);
    EXPECT_TRUE(loaded.m_bytes.empty());
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
        // The read in a child (no threads there): one that blocks fails this case only.
        const int nResult = RunInChild(
            [&] {
                const CLoadedPackage loaded = LoadCheckedPackage(c.m_strPath);
                const bool bRefused = loaded.m_eResult == EPackageLoad::FileError &&
                                      loaded.m_nErrno != 0 && loaded.m_bytes.empty();
                return bRefused ? 0 : 1;
            },
            10000, c.m_bAsNobody);
        EXPECT_EQ(nResult, 0) << (nResult == kChildHung ? "the read hung"
                                                        : "not refused with a cause, or crashed");
    }
}

TEST_F(TransferInput, HangUpBeforeTheLastBytesLeftIsNoSuccess) {
    // Every piece is handed to the port before the machine has read them all; if the cable goes
    // then, the machine never got the end of its firmware and the run must say so.
    SetClock(nullptr); // the real closing pause, in which the hang-up is seen
    const std::vector<uint8_t> package = MakeBytes(1024, 5);
    for (int nByte : {1023, 768}) {
        SCOPED_TRACE("hang-up at package byte " + std::to_string(nByte));
        CBootMode::CBehaviour behaviour;
        behaviour.m_nHangUpAtPackageByte = nByte;
        const CRun run = Transfer(&package, behaviour);
        EXPECT_EQ(run.m_package.size(), size_t(nByte));
        EXPECT_EQ(run.m_nResult, 0);
    }
}

} // namespace
