// The string tables against the exact bytes of every text, and the choice of language.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "resources/Strings.h"
#include "tests/support/ResourceOverride.h"

namespace {

struct CText {
    unsigned m_nId;
    const char* m_pszEnglish;
    const char* m_pszJapanese;
};

// UTF-8; "\r\n" is a carriage return and a line feed in the texts themselves.
const CText kTexts[] = {
    {101, "&About...", "&ﾊﾞｰｼﾞｮﾝ情報..."},
    {104, "Sending", "転送中"},
    {105, "Upgrade unnecessary.", "ﾊﾞｰｼﾞｮﾝｱｯﾌﾟは不要です。"},
    {106, "Wrong Model", "対象機種が違います。"},
    {107, "Wrong port.", "このﾎﾟｰﾄは使えません。"},
    {108, "Transmission faild. Try again.", "転送に失敗しました。最初からやり直してください。"},
    {109, "%1 is not a valid firmware package. It was not sent.",
     "%1 は正しいﾌｧｰﾑｳｪｱ ﾊﾟｯｹｰｼﾞではありません。転送しませんでした。"},
    {110, "First fault at offset %1: %2", "最初の誤り (ｵﾌｾｯﾄ %1): %2"},
    {111, "Put the Scan Unit on the machine.", "本体にｽｷｬﾝﾕﾆｯﾄを取り付けます。"},
    {112, "Connect the machine with the PC and turn on the power switch.",
     "本体とコンピュータを接続し、電源を入れてください。"},
    {113, "Checking Firmware Version.", "ﾊﾞｰｼﾞｮﾝを確認しています。"},
    {115, "Disconnect the AC Adapter.\r\nDON'T TURN OFF THE POWER SWITCH!!",
     "電源SWを切らずに AC ｱﾀﾞﾌﾟﾀを取り外します。"},
    {116, "Upgrading the Firmware.", "書きこみ中です。"},
    {117, "Transit completed.\r\nMake sure LED blinks slowly.",
     "転送が終了しました。\r\nLED がゆっくり点滅しているのを確認してください。"},
    {118, "Pull out the Jumper Blocks on J1&J2", "J1&J2 からｼﾞｬﾝﾊﾟｰを外します。"},
    {119, "Put the Jumper Blocks on J9&J10.", "ｼﾞｬﾝﾊﾟｰを J9&J10 に戻します。"},
    {120, "Upgrade completed.", "完了しました。"},
    {121, "Pull out the Jumper Blocks from J9&J10", "J9&J10からｼﾞｬﾝﾊﾟｰを取り外します"},
    {122, "Put the Jumper Blocks on J1&J2", "ｼﾞｬﾝﾊﾟｰを J1&J2 に取り付けます。"},
    {123, "Connect the AC Adapter.", "AC ｱﾀﾞﾌﾟﾀを取り付けます。"},
    {125, "The file is larger than 16 MiB; no firmware package is that large.",
     "ﾌｧｲﾙが 16 MiB を超えています。ﾌｧｰﾑｳｪｱ ﾊﾟｯｹｰｼﾞではありません。"},
    {126, "%1 is not a regular file.", "%1 は通常のﾌｧｲﾙではありません。"},
    {201,
     "The ports folder %1 cannot be read: %2. Give your user read and search permission on it "
     "(chmod u+rx %1).",
     "ポート設定フォルダー %1 を読み取れません: "
     "%2。このユーザーに読み取りと検索の権限を与えてください "
     "(chmod u+rx %1)。"},
    {32774, "260", "260"},
};

TEST(StringTable, EveryIdHasItsExactTextInBothLanguages) {
    for (const CText& text : kTexts) {
        SCOPED_TRACE(text.m_nId);
        EXPECT_EQ(LoadString(text.m_nId, ELanguage::English), text.m_pszEnglish);
        EXPECT_EQ(LoadString(text.m_nId, ELanguage::Japanese), text.m_pszJapanese);
    }
}

// Texts filled in by number (the package reader's sentences, the port causes, the command line):
// a translation that lost or added a "%n" would drop a port name or a reason from what the
// operator reads.
TEST(StringTable, FilledInTextsHaveTheSamePlaceholdersInBothLanguages) {
    auto placeholders = [](const std::string& strText) {
        std::multiset<std::string> found;
        for (size_t i = 0; i + 1 < strText.size(); ++i) {
            if (strText[i] == '%' && strText[i + 1] >= '1' && strText[i + 1] <= '9')
                found.insert(strText.substr(i, 2));
        }
        return found;
    };
    std::vector<unsigned> ids;
    for (const auto [nFirst, nLast] : {std::pair{150u, 168u}, {201u, 209u}, {400u, 445u}}) {
        for (unsigned nId = nFirst; nId <= nLast; ++nId)
            ids.push_back(nId);
    }
    for (unsigned nId : ids) {
        SCOPED_TRACE(nId);
        const std::string strEnglish = LoadString(nId, ELanguage::English);
        const std::string strJapanese = LoadString(nId, ELanguage::Japanese);
        EXPECT_NE(strEnglish, "");
        EXPECT_NE(strJapanese, "");
        EXPECT_EQ(placeholders(strEnglish), placeholders(strJapanese));
    }
}

TEST(StringTable, PlaceholdersTakeTheirArgumentsAsTheyStand) {
    struct CCase {
        const char* m_pszFormat;
        std::initializer_list<std::string> m_args;
        const char* m_pszText;
    };
    const CCase cases[] = {
        {"%1 was not found.", {"/tmp/a%2b"}, "/tmp/a%2b was not found."},
        {"%2 before %1", {"one", "two"}, "two before one"},
        {"%1  %5%  done", {"a", "b", "c", "d", "50"}, "a  50%  done"},
        {"%1 and %2", {"only"}, "only and %2"},
        {"100% %x %", {}, "100% %x %"},
    };
    for (const CCase& c : cases) {
        SCOPED_TRACE(c.m_pszFormat);
        EXPECT_EQ(FillPlaceholders(c.m_pszFormat, c.m_args), c.m_pszText);
    }
}

TEST(StringTable, LineBreaksAreCarriageReturnAndLineFeed) {
    EXPECT_EQ(LoadString(115, ELanguage::English).substr(26, 3), "\r\nD");
    EXPECT_EQ(LoadString(117, ELanguage::Japanese).find("\\"), std::string::npos);
    EXPECT_NE(LoadString(117, ELanguage::Japanese).find("\r\nLED"), std::string::npos);
}

TEST(StringTable, IdWithoutTextGivesEmptyText) {
    // 114 lies inside the range of step texts but no step uses it.
    for (unsigned nId : {0u, 100u, 114u, 124u, 32773u, 65535u, 4294967295u}) {
        SCOPED_TRACE(nId);
        EXPECT_EQ(LoadString(nId, ELanguage::English), "");
        EXPECT_EQ(LoadString(nId, ELanguage::Japanese), "");
    }
}

TEST(StringTable, TextsStayWhenTestsSwapTheResourceSet) {
    // The first lookup of this process happens while the set is swapped.
    CResourceOverride resources;
    resources.Hide("STRINGS", 1).Hide("STRINGS", 2);
    EXPECT_EQ(LoadString(108, ELanguage::English), "Transmission faild. Try again.");
    EXPECT_EQ(LoadString(104, ELanguage::Japanese), "転送中");
}

// Sets the three locale variables for one case and puts the old values back.
class UserLanguage : public testing::Test {
protected:
    static constexpr const char* kNames[] = {"LC_ALL", "LC_MESSAGES", "LANG"};

    void SetUp() override {
        for (int i = 0; i < 3; ++i) {
            const char* psz = std::getenv(kNames[i]);
            m_saved[i] = psz ? std::optional<std::string>(psz) : std::nullopt;
        }
    }
    void TearDown() override {
        for (int i = 0; i < 3; ++i)
            Set(kNames[i], m_saved[i] ? m_saved[i]->c_str() : nullptr);
    }
    static void Set(const char* pszName, const char* pszValue) {
        if (pszValue)
            setenv(pszName, pszValue, 1);
        else
            unsetenv(pszName);
    }

private:
    std::optional<std::string> m_saved[3];
};

TEST_F(UserLanguage, FirstSetLocaleVariableDecides) {
    struct {
        const char* m_pszAll;
        const char* m_pszMessages;
        const char* m_pszLang;
        ELanguage m_eExpected;
    } const cases[] = {
        {nullptr, nullptr, nullptr, ELanguage::English},
        {nullptr, nullptr, "ja_JP.UTF-8", ELanguage::Japanese},
        {nullptr, nullptr, "ja", ELanguage::Japanese},
        {nullptr, nullptr, "ja_JP", ELanguage::Japanese},
        {nullptr, nullptr, "ja_JP.eucJP", ELanguage::Japanese},
        {nullptr, nullptr, "en_US.UTF-8", ELanguage::English},
        {nullptr, nullptr, "C", ELanguage::English},
        {nullptr, nullptr, "jam_JM", ELanguage::English},
        {nullptr, nullptr, "xx_YY.garbage", ELanguage::English},
        {nullptr, "ja_JP.UTF-8", "en_US.UTF-8", ELanguage::Japanese},
        {nullptr, "C", "ja_JP.UTF-8", ELanguage::English},
        {"ja_JP.UTF-8", "en_US.UTF-8", "en_US.UTF-8", ELanguage::Japanese},
        {"C", "ja_JP.UTF-8", "ja_JP.UTF-8", ELanguage::English},
        {"en_GB.UTF-8", nullptr, "ja_JP.UTF-8", ELanguage::English},
        // An empty variable counts as unset.
        {"", "", "ja_JP.UTF-8", ELanguage::Japanese},
        {"", "ja", "", ELanguage::Japanese},
        {"", "", "", ELanguage::English},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "LC_ALL=" << (c.m_pszAll ? c.m_pszAll : "(unset)")
                     << " LC_MESSAGES=" << (c.m_pszMessages ? c.m_pszMessages : "(unset)")
                     << " LANG=" << (c.m_pszLang ? c.m_pszLang : "(unset)"));
        Set("LC_ALL", c.m_pszAll);
        Set("LC_MESSAGES", c.m_pszMessages);
        Set("LANG", c.m_pszLang);
        EXPECT_EQ(GetUserLanguage(), c.m_eExpected);
    }
}

TEST_F(UserLanguage, LoadStringFollowsTheLocale) {
    Set("LC_ALL", nullptr);
    Set("LC_MESSAGES", nullptr);
    Set("LANG", "ja_JP.UTF-8");
    EXPECT_EQ(LoadString(105), "ﾊﾞｰｼﾞｮﾝｱｯﾌﾟは不要です。");
    EXPECT_EQ(LoadString(32774), "260");
    Set("LANG", "de_DE.UTF-8");
    EXPECT_EQ(LoadString(105), "Upgrade unnecessary.");
}

} // namespace
