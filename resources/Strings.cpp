#include "resources/Strings.h"

#include <cstdlib>
#include <string_view>
#include <unordered_map>

#include "platform/System.h"
#include "resources/Resources.h"

namespace {

using CStringTable = std::unordered_map<unsigned, std::string>;

constexpr int kIdEnglishTable = 1;
constexpr int kIdJapaneseTable = 2;

std::string Unescape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        switch (text[++i]) {
        case 'r':
            out += '\r';
            break;
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case '\\':
            out += '\\';
            break;
        default: // not an escape of ours: leave it as the translator wrote it
            out += '\\';
            out += text[i];
        }
    }
    return out;
}

// Lines of "number, blanks, text"; comments (#) and empty lines skipped. Tolerates what editors
// add: a byte-order mark and CR LF line ends.
CStringTable ParseTable(std::string_view file) {
    CStringTable table;
    if (file.substr(0, 3) == "\xEF\xBB\xBF")
        file.remove_prefix(3);
    while (!file.empty()) {
        size_t nEnd = file.find('\n');
        std::string_view line = file.substr(0, nEnd);
        file.remove_prefix(nEnd == std::string_view::npos ? file.size() : nEnd + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);

        size_t i = 0;
        unsigned nId = 0;
        while (i < line.size() && line[i] >= '0' && line[i] <= '9' && nId <= 0xFFFF)
            nId = nId * 10 + (line[i++] - '0');
        if (i == 0 || nId > 0xFFFF || i == line.size() || (line[i] != '\t' && line[i] != ' '))
            continue;
        while (i < line.size() && (line[i] == '\t' || line[i] == ' '))
            ++i;
        table[nId] = Unescape(line.substr(i));
    }
    return table;
}

// Always from the program's own tables, also while a test has put another resource set in
// place: the set swaps images, never texts.
CStringTable LoadTable(int nId) {
    CResource res = GetBuiltinResources().Find("STRINGS", nId);
    if (!res)
        return {};
    return ParseTable({reinterpret_cast<const char*>(res.m_pData), res.m_nSize});
}

const CStringTable& GetTable(ELanguage eLanguage) {
    static const CStringTable english = LoadTable(kIdEnglishTable);
    static const CStringTable japanese = LoadTable(kIdJapaneseTable);
    return eLanguage == ELanguage::Japanese ? japanese : english;
}

// "ja", "ja_JP", "ja_JP.UTF-8", "ja.eucJP", "ja_JP@..." but not "jam" or the like.
bool IsJapaneseLocale(std::string_view locale) {
    if (locale.substr(0, 2) != "ja")
        return false;
    return locale.size() == 2 || locale[2] == '_' || locale[2] == '.' || locale[2] == '@';
}

} // namespace

ELanguage GetUserLanguage() {
    // Windows keeps the user's display language apart from any locale variable.
    const std::string strSystem = GetSystemUiLanguage();
    if (!strSystem.empty())
        return strSystem == "ja" ? ELanguage::Japanese : ELanguage::English;
    // The POSIX order: the first of these that is set and not empty decides alone.
    for (const char* pszName : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* pszValue = std::getenv(pszName);
        if (pszValue && *pszValue)
            return IsJapaneseLocale(pszValue) ? ELanguage::Japanese : ELanguage::English;
    }
    return ELanguage::English;
}

std::string LoadString(unsigned nId) {
    return LoadString(nId, GetUserLanguage());
}

std::string LoadString(unsigned nId, ELanguage eLanguage) {
    const CStringTable& table = GetTable(eLanguage);
    auto it = table.find(nId);
    return it == table.end() ? std::string() : it->second;
}

std::string FillPlaceholders(const std::string& strFormat,
                             std::initializer_list<std::string> args) {
    std::string strText;
    for (size_t i = 0; i < strFormat.size(); ++i) {
        const char c = strFormat[i];
        if (c == '%' && i + 1 < strFormat.size() && strFormat[i + 1] >= '1' &&
            strFormat[i + 1] <= '9') {
            const size_t nArg = static_cast<size_t>(strFormat[i + 1] - '1');
            if (nArg < args.size()) {
                strText += args.begin()[nArg];
                ++i;
                continue;
            }
        }
        strText += c;
    }
    return strText;
}
