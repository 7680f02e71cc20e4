// The package header text from the built-in package and from package files.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "resources/Resources.h"
#include "tests/support/ResourceOverride.h"
#include "tests/support/Unprivileged.h"
#include "transfer/PackageText.h"

namespace {

using namespace std::string_literals;

constexpr const char* kBuiltinText = "TVK35/50 NRP7/70  V260";

class PackageText : public testing::Test {
protected:
    void SetUp() override {
        std::string strTemplate =
            (std::filesystem::temp_directory_path() / "package-text-XXXXXX").string();
        ASSERT_NE(mkdtemp(strTemplate.data()), nullptr);
        // Open to every user: one case reads in it as "nobody".
        ASSERT_EQ(chmod(strTemplate.c_str(), 0755), 0);
        m_dir = strTemplate;
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::permissions(m_dir / "locked.ufw", std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(m_dir, ec);
    }
    std::string Write(const std::string& strName, const std::string& strBytes) {
        std::filesystem::path path = m_dir / strName;
        std::ofstream(path, std::ios::binary) << strBytes;
        return path.string();
    }

    std::filesystem::path m_dir;
};

TEST_F(PackageText, BuiltinPackageGivesItsHeaderText) {
    EXPECT_EQ(ReadPackageText(""), kBuiltinText);
}

TEST_F(PackageText, FileGivesBytes10To31UpToTheFirstZero) {
    const std::string strTag = "PUF14303  ";
    struct {
        const char* m_pszName;
        std::string m_strBytes;
        std::string m_strExpected;
    } const cases[] = {
        {"empty", "", ""},
        {"tag only", strTag, ""},
        {"one byte of text", strTag + "T", "T"},
        {"short text", strTag + "TVK35", "TVK35"},
        {"whole header", strTag + kBuiltinText + "0002F94F000028AA", kBuiltinText},
        {"exactly 32 bytes", strTag + kBuiltinText, kBuiltinText},
        {"zero inside", strTag + "TVK35\0NRP7/70  V260xxxxxxxx"s, "TVK35"},
        {"zero first", strTag + "\0TVK35/50 NRP7/70  V260"s, ""},
        {"zero in the tag", "PUF\0\0\0\0\0\0\0"s + kBuiltinText, kBuiltinText},
        {"22 non-zero bytes then more", strTag + "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789",
         "ABCDEFGHIJKLMNOPQRSTUV"},
        {"bytes of any value", strTag + "\xFF\x01\x80 x", "\xFF\x01\x80 x"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.m_pszName);
        EXPECT_EQ(ReadPackageText(Write("package.ufw", c.m_strBytes)), c.m_strExpected);
    }
}

TEST_F(PackageText, FileThatCannotBeReadGivesEmptyText) {
    EXPECT_EQ(ReadPackageText((m_dir / "no such file.ufw").string()), "");
    EXPECT_EQ(ReadPackageText(m_dir.string()), "");
    ASSERT_EQ(mkfifo((m_dir / "fifo.ufw").c_str(), 0600), 0);
    EXPECT_EQ(ReadPackageText((m_dir / "fifo.ufw").string()), "") << "must not wait for a writer";
    // Root reads any file, so the reads run as a user the file's mode locks out; the same bytes
    // left readable show that nothing else keeps that user from them.
    const std::string strLocked = Write("locked.ufw", "PUF14303  "s + kBuiltinText);
    const std::string strOpen = Write("open.ufw", "PUF14303  "s + kBuiltinText);
    ASSERT_EQ(chmod(strLocked.c_str(), 0), 0);
    ASSERT_EQ(chmod(strOpen.c_str(), 0644), 0);
    EXPECT_EQ(RunAsNobody([&] {
                  return ReadPackageText(strOpen) == kBuiltinText &&
                                 ReadPackageText(strLocked).empty()
                             ? 0
                             : 1;
              }),
              0);
}

TEST_F(PackageText, BuiltinPackageReadsOnlyTheBytesItHas) {
    CResourceOverride resources;
    struct {
        const char* m_pszName;
        std::string m_strBytes;
        std::string m_strExpected;
    } const cases[] = {
        {"15 bytes", "PUF14303  TVK35", "TVK35"},
        {"11 bytes", "PUF14303  T", "T"},
        {"10 bytes", "PUF14303  ", ""},
        {"40 non-zero bytes", "PUF14303  ABCDEFGHIJKLMNOPQRSTUVWXYZ0123", "ABCDEFGHIJKLMNOPQRSTUV"},
        {"zero inside", "PUF14303  TVK35\0NRP7/70  V260"s, "TVK35"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.m_pszName);
        resources.Replace("BIN", kIdPackage, {c.m_strBytes.begin(), c.m_strBytes.end()});
        EXPECT_EQ(ReadPackageText(""), c.m_strExpected);
    }
    resources.Hide("BIN", kIdPackage);
    EXPECT_EQ(ReadPackageText(""), "");
}

} // namespace
