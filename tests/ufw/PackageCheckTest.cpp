// A chosen package file read once and checked before anything is sent: what is refused, with
// which cause, and that a well-formed package comes back exactly as it lies on the disk.
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <functional>
#include <string>

#include "ufw/PackageCheck.h"
#include "resources/Resources.h"
#include "tests/support/Files.h"
#include "tests/support/TempDir.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Builtin(const char* pszType, int nId) {
    const CResource res = GetBuiltinResources().Find(pszType, nId);
    return res ? Bytes(res.m_pData, res.m_pData + res.m_nSize) : Bytes();
}

// What this process has read so far, by the kernel's count: the way to tell a file was never read.
int64_t BytesReadSoFar() {
    std::ifstream io("/proc/self/io");
    std::string strKey;
    int64_t nValue = -1;
    while (io >> strKey >> nValue) {
        if (strKey == "rchar:")
            return nValue;
    }
    ADD_FAILURE() << "no rchar in /proc/self/io";
    return -1;
}

class PackageCheck : public ::testing::Test {
protected:
    std::string Write(const std::string& strName, const Bytes& bytes) {
        const std::string strPath = m_dir / strName;
        WriteBytes(strPath, bytes);
        return strPath;
    }
    std::string Sparse(const std::string& strName, int64_t nSize) {
        const std::string strPath = Write(strName, {});
        EXPECT_EQ(::truncate(strPath.c_str(), nSize), 0);
        return strPath;
    }

    CTempDir m_dir{"versionup-package"};
};

TEST_F(PackageCheck, AWellFormedPackageComesBackExactlyAsOnDisk) {
    Bytes package = Builtin("BIN", kIdPackage);
    ASSERT_GT(package.size(), 100u);
    // Another release's header: not the built-in package, and still well-formed.
    package[31] = '1';
    const CLoadedPackage loaded = LoadCheckedPackage(Write("good.ufw", package));
    EXPECT_EQ(loaded.m_eResult, EPackageLoad::Ok);
    EXPECT_EQ(loaded.m_nErrno, 0);
    EXPECT_EQ(loaded.m_bytes, package);
}

TEST_F(PackageCheck, WhatIsNoPackageIsRefusedWithItsFirstFault) {
    const Bytes good = Builtin("BIN", kIdPackage);
    struct {
        const char* m_pszName;
        std::function<Bytes()> m_make;
        size_t m_nOffset;
        const char* m_pszWhat;
    } const cases[] = {
        {"a picture", [] { return Builtin("BITMAP", kIdbScanUnit); }, 0,
         "expected tag beginning with \"PUF\""},
        {"a download cut off inside a record",
         [&] { return Bytes(good.begin(), good.begin() + 70); }, 65, "found end of file"},
        {"a download cut off before the end tag",
         [&] { return Bytes(good.begin(), good.end() - 4); }, good.size() - 4,
         "expected end tag \"PUFE\""},
        {"a wrong record checksum",
         [&] {
             Bytes bytes = good;
             bytes[64] ^= 0x01; // the first record's checksum, 0xD6
             return bytes;
         },
         64, "expected checksum 0xD6"},
        {"an empty file", [] { return Bytes(); }, 0, "found end of file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.m_pszName);
        const Bytes bytes = c.m_make();
        const CLoadedPackage loaded = LoadCheckedPackage(Write("bad.ufw", bytes));
        EXPECT_EQ(loaded.m_eResult, EPackageLoad::Malformed);
        EXPECT_EQ(loaded.m_fault.m_nOffset, c.m_nOffset);
        EXPECT_NE(loaded.m_fault.m_strWhat.find(c.m_pszWhat), std::string::npos)
            << loaded.m_fault.m_strWhat;
        EXPECT_TRUE(loaded.m_bytes.empty()) << "refused bytes handed out to be sent";
    }
}

TEST_F(PackageCheck, AFileOverSixteenMiBIsRefusedWithoutBeingRead) {
    struct {
        const char* m_pszName;
        int64_t m_nSize;
        bool m_bRead;
    } const cases[] = {
        // The largest file that is read at all: it is checked, and a hole is no package.
        {"exactly 16 MiB", kMaxPackageFileSize, true},
        {"16 MiB and a byte", kMaxPackageFileSize + 1, false},
        {"3 GiB", int64_t(3) << 30, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.m_pszName);
        const std::string strPath = Sparse("huge.ufw", c.m_nSize);
        const int64_t nBefore = BytesReadSoFar();
        const CLoadedPackage loaded = LoadCheckedPackage(strPath);
        const int64_t nRead = BytesReadSoFar() - nBefore;
        EXPECT_TRUE(loaded.m_bytes.empty());
        if (c.m_bRead) {
            EXPECT_EQ(loaded.m_eResult, EPackageLoad::Malformed);
            EXPECT_GE(nRead, kMaxPackageFileSize) << "the count does not see reads";
        } else {
            EXPECT_EQ(loaded.m_eResult, EPackageLoad::TooLarge);
            EXPECT_LT(nRead, 4096) << "the file was read";
        }
    }
}

TEST_F(PackageCheck, AFileThatCannotBeReadGivesItsCause) {
    const std::string strHeld = Write("held.ufw", Builtin("BIN", kIdPackage));
    const int nHolder = ::open(strHeld.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(nHolder, 0);
    ASSERT_EQ(::flock(nHolder, LOCK_EX | LOCK_NB), 0);
    struct {
        const char* m_pszName;
        std::string m_strPath;
        int m_nErrno;
    } const cases[] = {
        {"missing", m_dir / "gone.ufw", ENOENT},
        {"a folder", m_dir.Path().string(), EISDIR},
        {"held by another program", strHeld, EWOULDBLOCK},
        // Opens as a regular file, and reading it at its start fails: nothing is mapped at 0.
        {"a read error", "/proc/self/mem", EIO},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.m_pszName);
        const CLoadedPackage loaded = LoadCheckedPackage(c.m_strPath);
        EXPECT_EQ(loaded.m_eResult, EPackageLoad::FileError);
        EXPECT_EQ(loaded.m_nErrno, c.m_nErrno);
        EXPECT_TRUE(loaded.m_bytes.empty());
    }
    ::close(nHolder);
    EXPECT_EQ(LoadCheckedPackage(strHeld).m_eResult, EPackageLoad::Ok);
}

} // namespace
