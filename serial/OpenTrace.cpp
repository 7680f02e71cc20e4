#include "serial/SerialPort.h"

#include <cstring>
#include <string>

#include "serial/LinkState.h"

// "open COM1 (/dev/ttyUSB0) 9600 N81 handshake off; read back equal; low latency on", or what
// failed. The device's settings are read back inside ApplySettings, which fails on a difference.
void CSerialPort::TraceOpen(const char* pszPort, const char* pszMode, const char* pszLowLatency) {
    if (!m_pLink->pTrace)
        return;
    std::string strPort = pszPort ? pszPort : "";
    if (!strPort.empty() && strPort.back() == ':')
        strPort.pop_back();
    std::string strText = "open " + strPort + " (" + m_error.m_strDevice + ") " +
                          std::to_string(m_settings.BaudRate) + " " + std::string(pszMode, 3) +
                          " " +
                          (pszMode[3] == 'H'   ? "handshake on"
                           : pszMode[3] == 'X' ? "handshake xon/xoff"
                                               : "handshake off");
    if (m_error.m_nErrno != 0) {
        strText += std::string("; failed: ") + std::strerror(m_error.m_nErrno);
        if (!m_error.m_strCause.empty())
            strText += " (" + m_error.m_strCause + ")";
    } else {
        strText += "; read back equal";
    }
    if (pszLowLatency)
        strText += std::string("; low latency ") + pszLowLatency;
    const std::string strNote = m_pLink->pDevice->TakeTraceNote();
    if (!strNote.empty())
        strText += "; " + strNote;
    m_pLink->Trace(std::move(strText));
}
