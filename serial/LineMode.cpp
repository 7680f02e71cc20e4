#include "serial/SerialPort.h"

int CSerialPort::ParseMode(const char* pszMode) {
    if (!pszMode)
        return 0;
    switch (pszMode[0]) {
    case 'E':
        m_dcb.Parity = 2;
        break;
    case 'M':
        m_dcb.Parity = 3;
        break;
    case 'N':
        m_dcb.Parity = 0;
        break;
    case 'O':
        m_dcb.Parity = 1;
        break;
    default:
        return 0;
    }
    switch (pszMode[1]) {
    case '7':
        m_dcb.ByteSize = 7;
        break;
    case '8':
        m_dcb.ByteSize = 8;
        break;
    default:
        return 0;
    }
    switch (pszMode[2]) {
    case '1':
        m_dcb.StopBits = 0;
        break;
    case '2':
        m_dcb.StopBits = 2;
        break;
    default:
        return 0;
    }
    m_dcb.fOutxCtsFlow = 0;
    m_dcb.fOutxDsrFlow = 0;
    m_dcb.fDtrControl = 1;
    m_dcb.fOutX = 0;
    m_dcb.fInX = 0;
    switch (pszMode[3]) {
    case '\0':
        return 1;
    case 'H':
        m_dcb.fOutxCtsFlow = 1;
        m_dcb.fOutxDsrFlow = 1;
        m_dcb.fDtrControl = 2;
        m_dcb.fRtsControl = 2;
        return 1;
    case 'X':
        m_dcb.fOutX = 1;
        m_dcb.fInX = 1;
        return 1;
    default:
        return 0;
    }
}

void CSerialPort::SetTimeoutsForBaud(uint32_t nBaud) {
    m_timeouts.ReadIntervalTimeout = 0xFFFFFFFFu;
    m_timeouts.ReadTotalTimeoutMultiplier = 0;
    m_timeouts.ReadTotalTimeoutConstant = 0;
    m_timeouts.WriteTotalTimeoutMultiplier = nBaud ? 19200 / nBaud : 0;
    m_timeouts.WriteTotalTimeoutConstant = 1000;
}
