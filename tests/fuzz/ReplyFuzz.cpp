// The version check's reading of any reply, and the version comparison of any two texts.
//
// Input: the first byte gives the length of a package version text (0 to 15 bytes, taken next);
// the rest is what the machine sends, collected the way the query loop does: up to the first ';',
// at most 255 bytes, cut at the first zero byte.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "device/DeviceCheck.h"
#include "device/Reply.h"
#include "tests/fuzz/FuzzCheck.h"

namespace {

std::string CollectReply(std::string_view sent) {
    std::string reply;
    for (char c : sent) {
        if (c == ';' || reply.size() == 255)
            break;
        reply += c;
    }
    return std::string(CutAtZero(reply));
}

void CheckSplit(const std::string& strReply) {
    const CReplySplit split = SplitReply(strReply);
    FUZZ_CHECK(split.m_strVersion.find(' ') == std::string::npos);
    const size_t nLead = strReply.find_first_not_of(' ');
    if (nLead == std::string::npos) {
        FUZZ_CHECK(!split.m_bUsable && split.m_strVersion.empty() && split.m_strModel.empty());
        return;
    }
    FUZZ_CHECK(!split.m_strVersion.empty());
    // Nothing is lost or made up: the spaces skipped, the token, one space, the model.
    const std::string strRebuilt =
        strReply.substr(0, nLead) + split.m_strVersion +
        (strReply.size() > nLead + split.m_strVersion.size() ? " " : "") + split.m_strModel;
    FUZZ_CHECK(strRebuilt == strReply);
    FUZZ_CHECK(split.m_bUsable == !split.m_strModel.empty());

    const int nModel = FindModel(split.m_strModel);
    int nExpected = -1;
    for (int i = 0; g_modelNames[i]; ++i)
        if (split.m_strModel == g_modelNames[i] && nExpected < 0)
            nExpected = i;
    FUZZ_CHECK(nModel == nExpected);
    FUZZ_CHECK(ScannerFlagOf(split.m_strModel) == (split.m_strModel.rfind("NRP", 0) == 0 ? 1 : 0));
}

void CheckCompare(std::string_view a, std::string_view b) {
    const bool bGreater = IsVersionGreater(a, b);
    const bool bLess = IsVersionGreater(b, a);
    FUZZ_CHECK(!(bGreater && bLess));
    FUZZ_CHECK((bGreater || bLess) == (a != b));
    // char_traits<char> compares as unsigned char, which is the rule wanted here.
    FUZZ_CHECK(bGreater == (a.compare(b) > 0));
    FUZZ_CHECK(!IsVersionGreater(a, a));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    if (nSize == 0)
        return 0;
    const size_t nPackage = std::min<size_t>(pData[0] % 16, nSize - 1);
    const std::string strPackage(reinterpret_cast<const char*>(pData + 1), nPackage);
    const std::string_view sent(reinterpret_cast<const char*>(pData + 1 + nPackage),
                                nSize - 1 - nPackage);

    const std::string strReply = CollectReply(sent);
    FUZZ_CHECK(strReply.size() <= 255);
    FUZZ_CHECK(strReply.find(';') == std::string::npos);
    CheckSplit(strReply);

    const CReplySplit split = SplitReply(strReply);
    CheckCompare(strPackage, split.m_strVersion);
    CheckCompare(CutAtZero(strPackage), split.m_strVersion);
    CheckCompare("V260", split.m_strVersion);
    return 0;
}
