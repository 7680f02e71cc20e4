// Package files no one should choose, and some one will: empty, cut short, of exactly one piece,
// not a file at all, not readable, or far too large. The header text must come out right or
// empty, at once, and nothing may crash or hang.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "ufw/PackageText.h"
#include "tests/support/TempDir.h"
#include "tests/support/Unprivileged.h"

namespace {

constexpr const char* kTag = "PUF14303  ";
constexpr const char* kHeader = "TVK35/50 NRP7/70  V260";
constexpr int64_t kThreeGiB = int64_t(3) << 30;

void WriteFile(const std::string& strPath, const std::string& strBytes) {
    std::ofstream(strPath, std::ios::binary) << strBytes;
}

// A file that reports 3 GiB and takes no room: the header, then a hole.
bool MakeSparse(const std::string& strPath, int64_t nSize) {
    WriteFile(strPath, std::string(kTag) + kHeader);
    return truncate(strPath.c_str(), nSize) == 0;
}

struct CBadFile {
    const char* m_pszName;
    std::function<bool(const std::string&)> m_make; // builds it at the path
    std::string m_strText;                          // the header text it gives
    bool m_bAsNobody = false;
};

const CBadFile kBadFiles[] = {
    {"0 bytes", [](const std::string& p) { return WriteFile(p, ""), true; }, ""},
    {"10 bytes", [](const std::string& p) { return WriteFile(p, kTag), true; }, ""},
    {"exactly 256 bytes, one piece",
     [](const std::string& p) {
         WriteFile(p, std::string(kTag) + kHeader + std::string(224, '\xA5'));
         return true;
     },
     kHeader},
    {"a directory", [](const std::string& p) { return mkdir(p.c_str(), 0755) == 0; }, ""},
    {"a FIFO without a writer", [](const std::string& p) { return mkfifo(p.c_str(), 0666) == 0; },
     ""},
    {"no read permission, as nobody",
     [](const std::string& p) {
         WriteFile(p, std::string(kTag) + kHeader);
         return chmod(p.c_str(), 0200) == 0;
     },
     "", true},
    {"a dangling link",
     [](const std::string& p) { return symlink("/nonexistent/package.ufw", p.c_str()) == 0; }, ""},
    {"a character device",
     [](const std::string& p) { return symlink("/dev/zero", p.c_str()) == 0; }, ""},
    {"3 GiB, sparse", [](const std::string& p) { return MakeSparse(p, kThreeGiB); }, kHeader},
};

TEST(PackageFileInput, HeaderTextIsRightOrEmptyAndComesAtOnce) {
    for (const CBadFile& bad : kBadFiles) {
        SCOPED_TRACE(bad.m_pszName);
        CTempDir dir;
        const std::string strPath = dir / "package.ufw";
        ASSERT_TRUE(bad.m_make(strPath));
        // In a child: a read that blocks or crashes fails this case instead of the whole run.
        const int nResult =
            RunInChild([&] { return ReadPackageFileText(strPath) == bad.m_strText ? 0 : 1; }, 10000,
                       bad.m_bAsNobody);
        EXPECT_EQ(nResult, 0) << (nResult == kChildHung ? "hung" : "wrong text or crashed");
    }
}

} // namespace
