// The mode string of Open for any text: it is accepted exactly when it is parity, data bits and
// stop bits, then the end, "H" or "X" (what follows the fourth letter does not count), and the
// settings image then holds exactly what the letters say. A rejected mode touches no port.
//
// Open is the way in: with a port name that maps to no device, an accepted mode fails with
// ENODEV, a rejected one with no OS cause, and neither opens anything.
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

#include "serial/SerialPort.h"
#include "tests/fuzz/FuzzCheck.h"

namespace {

struct CExpected {
    bool m_bAccepted = false;
    CPortSettings m_settings;
};

// Written from the table of letters, apart from the decoder in the link.
CExpected Decode(const char* psz, uint32_t nBaud) {
    CExpected e;
    e.m_settings.BaudRate = nBaud;
    const std::string strParity = "NOEM"; // 0 none, 1 odd, 2 even, 3 mark
    const size_t nLength = std::strlen(psz);
    if (nLength < 3)
        return e;
    const size_t nParity = strParity.find(psz[0]);
    if (psz[0] == '\0' || nParity == std::string::npos)
        return e;
    if (psz[1] != '7' && psz[1] != '8')
        return e;
    if (psz[2] != '1' && psz[2] != '2')
        return e;
    if (psz[3] != '\0' && psz[3] != 'H' && psz[3] != 'X')
        return e;
    e.m_bAccepted = nBaud != 0;
    e.m_settings.Parity = static_cast<uint8_t>(nParity);
    e.m_settings.ByteSize = static_cast<uint8_t>(psz[1] - '0');
    e.m_settings.StopBits = psz[2] == '2' ? 2 : 0;
    e.m_settings.fOutxCtsFlow = psz[3] == 'H';
    e.m_settings.fOutxDsrFlow = psz[3] == 'H';
    e.m_settings.fDtrControl = psz[3] == 'H' ? 2 : 1;
    e.m_settings.fRtsControl = 2;
    e.m_settings.fOutX = psz[3] == 'X';
    e.m_settings.fInX = psz[3] == 'X';
    return e;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    // First byte picks the baud rate (0 must be refused too); the rest is the mode text.
    static const uint32_t s_bauds[] = {9600, 38400, 0, 115200};
    const uint32_t nBaud = nSize > 0 ? s_bauds[pData[0] % 4] : 9600;
    const std::string strMode = nSize > 0 ? std::string(pData + 1, pData + nSize) : "";
    const CExpected expected = Decode(strMode.c_str(), nBaud);

    // One object for the whole run, as only one may exist; a fresh image for every input.
    static CSerialPort s_port;
    s_port.m_settings = CPortSettings();
    s_port.m_settings.fRtsControl = 0; // the decoder must set it for "H" and leave it otherwise
    FUZZ_CHECK(s_port.Open("", nBaud, strMode.c_str()) == 0);
    const CPortError& error = s_port.GetOpenError();

    FUZZ_CHECK(error.m_strDevice.empty());
    FUZZ_CHECK((error.m_nErrno == ENODEV) == expected.m_bAccepted);
    FUZZ_CHECK(error.m_nErrno == 0 || error.m_nErrno == ENODEV);
    FUZZ_CHECK(s_port.m_settings.BaudRate == nBaud);
    if (expected.m_bAccepted) {
        const CPortSettings& dcb = s_port.m_settings;
        FUZZ_CHECK(dcb.Parity == expected.m_settings.Parity);
        FUZZ_CHECK(dcb.ByteSize == expected.m_settings.ByteSize);
        FUZZ_CHECK(dcb.StopBits == expected.m_settings.StopBits);
        FUZZ_CHECK(dcb.fOutxCtsFlow == expected.m_settings.fOutxCtsFlow);
        FUZZ_CHECK(dcb.fOutxDsrFlow == expected.m_settings.fOutxDsrFlow);
        FUZZ_CHECK(dcb.fDtrControl == expected.m_settings.fDtrControl);
        FUZZ_CHECK(dcb.fRtsControl == (strMode[3] == 'H' ? 2u : 0u));
        FUZZ_CHECK(dcb.fOutX == expected.m_settings.fOutX);
        FUZZ_CHECK(dcb.fInX == expected.m_settings.fInX);
        FUZZ_CHECK(dcb.XonChar == 17 && dcb.XoffChar == 19);
    }
    return 0;
}
