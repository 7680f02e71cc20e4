// The box for a chosen file that cannot be sent: its text and detail, and which box each refusal
// gets.
#include <gtest/gtest.h>

#include <cerrno>

#include "resources/StringIds.h"
#include "tests/support/ScriptedOperator.h"
#include "wizard/PackageError.h"

namespace {

CLoadedPackage Malformed(size_t nOffset, EPackageFault eKind, std::vector<std::string> words) {
    CLoadedPackage loaded;
    loaded.m_eResult = EPackageLoad::Malformed;
    loaded.m_fault = {nOffset, eKind, std::move(words), {}};
    return loaded;
}

TEST(PackageError, ThePathAndTheFaultArePutInAsTheyStand) {
    // Neither a path nor the reader's words are formats: their own "%1" and "%2" stay.
    EXPECT_EQ(FormatNotAPackage("/w/%2 and %1.ufw"),
              "/w/%2 and %1.ufw is not a valid firmware package. It was not sent.");
    EXPECT_EQ(FormatPackageFault(Malformed(64, EPackageFault::RecordLetter, {"\"%1\""})),
              "First fault at offset 64: expected record letter \"B\", found \"%1\"");
    CLoadedPackage tooLarge;
    tooLarge.m_eResult = EPackageLoad::TooLarge;
    EXPECT_EQ(FormatPackageFault(tooLarge),
              "The file is larger than 16 MiB; no firmware package is that large.");
}

TEST(PackageError, EachRefusalHasItsBox) {
    struct {
        const char* m_pszName;
        CLoadedPackage m_loaded;
        unsigned m_nId;
        std::string m_strText;
    } const cases[] = {
        {"malformed", Malformed(0, EPackageFault::WrongTag, {"\"BM\""}), kIdsNotAPackage,
         "/w/a.ufw is not a valid firmware package. It was not sent."},
        {"file error", CLoadedPackage{EPackageLoad::FileError, ENOENT, {}, {}}, 0,
         "/w/a.ufw was not found."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.m_pszName);
        CScriptedOperator op;
        ReportUnsendablePackage(op, c.m_loaded, "/w/a.ufw");
        ASSERT_EQ(op.m_messages.size(), 1u);
        EXPECT_EQ(op.m_messages[0].m_nId, c.m_nId);
        EXPECT_EQ(op.m_messages[0].m_strText, c.m_strText);
        EXPECT_EQ(op.m_messages[0].m_eButtons, EButtons::Ok);
    }
}

} // namespace
