// The package header text from the built-in package and from package files.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "resources/PackageStrings.h"
#include "resources/Resources.h"
#include "tests/support/ResourceOverride.h"
#include "tests/support/TempDir.h"
#include "tests/support/Unprivileged.h"

namespace {

using namespace std::string_literals;

constexpr const char* kBuiltinText = "TVK35/50 NRP7/70  V260";

class PackageText : public testing::Test {
protected:
    std::string Write(const std::string& strName, const std::string& strBytes) {
        const std::filesystem::path path = m_dir / strName;
        std::ofstream(path, std::ios::binary) << strBytes;
        return path.string();
    }

    CTempDir m_dir{"package-text"};
};

TEST_F(PackageText, BuiltinPackageGivesItsHeaderText) {
    EXPECT_EQ(ReadPackageText(""), kBuiltinText);
}

// The same bytes give the same text whether they come from a package file or are built in.
TEST_F(PackageText, Bytes10To31UpToTheFirstZeroFromEitherSource) {
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
    CResourceOverride resources;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.m_pszName);
        EXPECT_EQ(ReadPackageText(Write("package.ufw", c.m_strBytes)), c.m_strExpected)
            << "from a file";
        resources.Replace("BIN", kIdPackage, {c.m_strBytes.begin(), c.m_strBytes.end()});
        EXPECT_EQ(ReadPackageText(""), c.m_strExpected) << "built in";
    }
    resources.Hide("BIN", kIdPackage);
    EXPECT_EQ(ReadPackageText(""), "");
}

TEST_F(PackageText, FileThatCannotBeReadGivesEmptyText) {
    EXPECT_EQ(ReadPackageText((m_dir / "no such file.ufw").string()), "");
    EXPECT_EQ(ReadPackageText(m_dir.Path().string()), "");
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

// The reader's sentences come from the string tables, so a Japanese package box speaks
// Japanese throughout; the words the reader found go in as they stand.
TEST(PackageFaultText, EveryFaultHasItsSentenceInBothLanguages) {
    for (int n = 0; n <= static_cast<int>(EPackageFault::Closing); ++n) {
        SCOPED_TRACE(n);
        const CPackageFault fault{0, static_cast<EPackageFault>(n), {"W1", "W2", "W3", "W4"}, {}};
        const std::string strEnglish = DescribePackageFault(fault, ELanguage::English);
        const std::string strJapanese = DescribePackageFault(fault, ELanguage::Japanese);
        EXPECT_EQ(strEnglish.find('%'), std::string::npos) << strEnglish;
        EXPECT_EQ(strJapanese.find('%'), std::string::npos) << strJapanese;
        EXPECT_NE(strJapanese, strEnglish);
        for (const char* pszWord : {"W1", "W2", "W3", "W4"}) {
            EXPECT_EQ(strEnglish.find(pszWord) == std::string::npos,
                      strJapanese.find(pszWord) == std::string::npos)
                << pszWord << ": " << strEnglish << " / " << strJapanese;
        }
    }
    // What the reader itself says is the English table's sentence.
    const CPackageReport report = InspectPackage({'P', 'U', 'F'});
    ASSERT_NE(report.FirstFault(), nullptr);
    const CPackageFault& cut = *report.FirstFault();
    EXPECT_EQ(DescribePackageFault(cut, ELanguage::English), cut.m_strWhat);
    EXPECT_EQ(cut.m_strWhat, "expected tag \"PUF...\" (10 bytes), found \"PUF\"");
    const CPackageFault end{118654, EPackageFault::NoEndTag, {""}, {}};
    EXPECT_EQ(DescribePackageFault(end, ELanguage::Japanese),
              "終了タグ \"PUFE\" があるべき所が ファイルの終わり です");
}

} // namespace
