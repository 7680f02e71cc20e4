// Port names as the dialog, a link or a mistake may give them: "COMN:" is N (1 to 256) for
// "COM" in any case, digits without a leading zero and at most one ':' after them; anything else
// names no COM port, and a name that maps to no device never turns into one.
#include <cstdint>
#include <string>

#include "ports/PortMap.h"
#include "tests/fuzz/FuzzCheck.h"

namespace {

int ExpectedComNumber(const std::string& str) {
    if (str.size() < 4)
        return 0;
    for (int i = 0; i < 3; ++i)
        if ((str[i] & ~0x20) != "COM"[i])
            return 0;
    size_t nEnd = str.size();
    if (str[nEnd - 1] == ':')
        --nEnd;
    if (nEnd == 3 || str[3] == '0')
        return 0;
    long nNumber = 0;
    for (size_t i = 3; i < nEnd; ++i) {
        if (str[i] < '0' || str[i] > '9')
            return 0;
        nNumber = std::min(nNumber * 10 + (str[i] - '0'), 1000L);
    }
    return nNumber >= 1 && nNumber <= 256 ? static_cast<int>(nNumber) : 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    const std::string strPort(reinterpret_cast<const char*>(pData), nSize);
    const int nCom = ParseComNumber(strPort);
    FUZZ_CHECK(nCom == ExpectedComNumber(strPort));

    // A machine with no serial devices and no ports folder: only a path, or a port on a device
    // server (rfc2217://, in any case), maps to anything, and to itself.
    static const CPortMap s_map("/nonexistent/dev", "/nonexistent/sys", "/nonexistent/ports");
    const std::string strDevice = s_map.Resolve(strPort);
    bool bServer = strPort.size() >= 10;
    for (size_t i = 0; bServer && i < 10; ++i)
        bServer = (i < 3 ? strPort[i] | 0x20 : strPort[i]) == "rfc2217://"[i];
    if ((!strPort.empty() && strPort[0] == '/') || bServer)
        FUZZ_CHECK(strDevice == strPort);
    else
        FUZZ_CHECK(strDevice.empty());
    return 0;
}
