#include "serial/SerialPort.h"

int CSerialPort::ParseMode(const char* pszMode) {
    if (!pszMode)
        return 0;
    switch (pszMode[0]) {
    case 'E':
        m_settings.Parity = 2;
        break;
    case 'M':
        m_settings.Parity = 3;
        break;
    case 'N':
        m_settings.Parity = 0;
        break;
    case 'O':
        m_settings.Parity = 1;
        break;
    default:
        return 0;
    }
    switch (pszMode[1]) {
    case '7':
        m_settings.ByteSize = 7;
        break;
    case '8':
        m_settings.ByteSize = 8;
        break;
    default:
        return 0;
    }
    switch (pszMode[2]) {
    case '1':
        m_settings.StopBits = 0;
        break;
    case '2':
        m_settings.StopBits = 2;
        break;
    default:
        return 0;
    }
    m_settings.fOutxCtsFlow = 0;
    m_settings.fOutxDsrFlow = 0;
    m_settings.fDtrControl = 1;
    m_settings.fOutX = 0;
    m_settings.fInX = 0;
    switch (pszMode[3]) {
    case '\0':
        return 1;
    case 'H':
        m_settings.fOutxCtsFlow = 1;
        m_settings.fOutxDsrFlow = 1;
        m_settings.fDtrControl = 2;
        m_settings.fRtsControl = 2;
        return 1;
    case 'X':
        m_settings.fOutX = 1;
        m_settings.fInX = 1;
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
