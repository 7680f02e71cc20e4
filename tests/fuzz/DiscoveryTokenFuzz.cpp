// Discovery's reading of any probe answer: the byte that ended the wait is dropped, up to 32
// waiting bytes are taken and cut at the first zero; the candidate found there must be what the
// tokenising rule gives, and a port counts as found only for an exact model name.
#include <cstdint>
#include <string>
#include <string_view>

#include "device/DeviceCheck.h"
#include "device/Reply.h"
#include "tests/fuzz/FuzzCheck.h"

namespace {

// Written from the rule, byte by byte, apart from the tokeniser under test.
bool ExpectedCandidate(const std::string& str, std::string& strCandidate) {
    size_t i = 0;
    while (i < str.size() && str[i] == ' ')
        ++i;
    if (i == str.size())
        return false;
    while (i < str.size() && str[i] != ' ')
        ++i;
    if (i == str.size())
        return false;
    ++i; // the space
    while (i < str.size() && str[i] == ';')
        ++i;
    if (i == str.size())
        return false;
    strCandidate.clear();
    while (i < str.size() && str[i] != ';')
        strCandidate += str[i++];
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    if (nSize == 0)
        return 0;
    const std::string_view waiting(reinterpret_cast<const char*>(pData + 1),
                                   std::min<size_t>(nSize - 1, 32));
    const std::string strText(CutAtZero(waiting));

    std::string strCandidate = "untouched";
    const bool bFound = FindModelCandidate(strText, strCandidate);
    std::string strExpected;
    const bool bExpected = ExpectedCandidate(strText, strExpected);
    FUZZ_CHECK(bFound == bExpected);
    if (bFound) {
        FUZZ_CHECK(strCandidate == strExpected);
        FUZZ_CHECK(!strCandidate.empty());
        FUZZ_CHECK(strCandidate.find(';') == std::string::npos);
        FUZZ_CHECK(strText.find(strCandidate) != std::string::npos);
        const int nModel = FindModel(strCandidate);
        FUZZ_CHECK(nModel < 0 || strCandidate == g_modelNames[nModel]);
    }
    return 0;
}
