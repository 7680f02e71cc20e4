#include "ports/SerialDeviceWin32.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>

#include "platform/Win32Api.h"
#include "platform/WinText.h"

namespace {

// How long one read waits for a first byte before WaitEvent issues the next.
constexpr DWORD kWaitSliceMs = 1000;

// What the texts know of a port that will not open.
int ErrnoOfOpen(DWORD dwError) {
    switch (dwError) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return EBUSY; // Windows opens a COM port for one program only
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
        return ENOENT;
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_GEN_FAILURE:
    case ERROR_NOT_READY:
        return ENODEV;
    default:
        return EIO;
    }
}

// An adapter pulled out answers every call with one of these.
bool IsGone(DWORD dwError) {
    switch (dwError) {
    case ERROR_ACCESS_DENIED:
    case ERROR_BAD_COMMAND:
    case ERROR_DEVICE_REMOVED:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_GEN_FAILURE:
    case ERROR_INVALID_HANDLE:
    case ERROR_FILE_NOT_FOUND:
        return true;
    default:
        return false;
    }
}

// Waits for an overlapped call that returned ERROR_IO_PENDING: true when it ended well within
// nWaitMs (INFINITE for no limit); the bytes it moved in dwDone either way.
bool Finish(HANDLE hPort, OVERLAPPED& ov, DWORD& dwDone, DWORD dwWaitMs) {
    if (WaitForSingleObject(ov.hEvent, dwWaitMs) != WAIT_OBJECT_0) {
        CancelIoEx(hPort, &ov);
        GetOverlappedResult(hPort, &ov, &dwDone, TRUE);
        return false;
    }
    return GetOverlappedResult(hPort, &ov, &dwDone, FALSE) != 0;
}

} // namespace

std::unique_ptr<ISerialDevice> MakeSystemSerialDevice() {
    return std::make_unique<CWinSerialDevice>();
}

struct CWinSerialDevice::CState {
    HANDLE hPort = INVALID_HANDLE_VALUE;
    HANDLE hWake = nullptr;
    OVERLAPPED ovWait{};
    OVERLAPPED ovRead{};
    OVERLAPPED ovWrite{};
    // The wait for a byte is a read of one byte that stays pending until one arrives. It
    // outlives the WaitEvent that started it when Wake ends that one first: the next WaitEvent
    // takes it up again, since cancelling it is not done reliably by every driver. The byte it
    // takes is handed out first by the next read.
    std::atomic<bool> bWaitPending{false};
    uint8_t nWaitByte = 0;
    bool bHaveByte = false;
    bool bDtr = true;

    enum class EWait { Pending, Done, Failed };
    // Looks whether the pending one-byte read has ended, without waiting.
    EWait CollectWait() {
        DWORD dwDone = 0;
        if (GetOverlappedResult(hPort, &ovWait, &dwDone, FALSE)) {
            bWaitPending = false;
            bHaveByte = dwDone == 1;
            return EWait::Done;
        }
        const DWORD dwError = GetLastError();
        // wine may signal the event a moment before the result is in.
        if (dwError == ERROR_IO_INCOMPLETE)
            return EWait::Pending;
        bWaitPending = false;
        return dwError == ERROR_OPERATION_ABORTED ? EWait::Done : EWait::Failed;
    }
};

CWinSerialDevice::CWinSerialDevice() : m_pState(std::make_unique<CState>()) {
    CState& s = *m_pState;
    s.hWake = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    s.ovWait.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    s.ovRead.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    s.ovWrite.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

CWinSerialDevice::~CWinSerialDevice() {
    Close();
    CState& s = *m_pState;
    for (HANDLE h : {s.hWake, s.ovWait.hEvent, s.ovRead.hEvent, s.ovWrite.hEvent}) {
        if (h)
            CloseHandle(h);
    }
}

bool CWinSerialDevice::HasPendingWait() const {
    return m_pState->bWaitPending;
}

bool CWinSerialDevice::IsOpen() const {
    return m_pState->hPort != INVALID_HANDLE_VALUE;
}

int CWinSerialDevice::Open(const std::string& strPath) {
    CState& s = *m_pState;
    if (!s.hWake || !s.ovWait.hEvent || !s.ovRead.hEvent || !s.ovWrite.hEvent)
        return EMFILE;
    const HANDLE hPort = CreateFileW(WideOf(strPath).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (hPort == INVALID_HANDLE_VALUE)
        return ErrnoOfOpen(GetLastError());
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (GetFileType(hPort) != FILE_TYPE_CHAR || !GetCommState(hPort, &dcb)) {
        CloseHandle(hPort);
        return ENOTTY;
    }
    SetupComm(hPort, 16384, 16384);
    // A read returns at once with what is there and, when nothing is, waits for the first byte
    // (up to kWaitSliceMs). ReadAvailable reads only what the driver holds, so it never waits;
    // WaitEvent's one-byte read is the wait for a byte. Writes wait as long as the caller lets
    // them. The driver wakes a pending read the moment a byte arrives, where a WaitCommEvent
    // under wine polls the line every millisecond and more on a pseudo-terminal.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = kWaitSliceMs;
    SetCommTimeouts(hPort, &timeouts);
    s.hPort = hPort;
    s.bWaitPending = false;
    s.bHaveByte = false;
    s.bDtr = dcb.fDtrControl != DTR_CONTROL_DISABLE;
    return 0;
}

void CWinSerialDevice::Close() {
    CState& s = *m_pState;
    if (s.hPort == INVALID_HANDLE_VALUE)
        return;
    // A pending read still writes into ovWait: the handle is closed only after it has ended.
    if (s.bWaitPending) {
        DWORD dwDone = 0;
        Finish(s.hPort, s.ovWait, dwDone, 0);
        s.bWaitPending = false;
    }
    CloseHandle(s.hPort);
    s.hPort = INVALID_HANDLE_VALUE;
}

int CWinSerialDevice::Apply(const CLineSettings& settings, CLineSettings& applied) {
    CState& s = *m_pState;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(s.hPort, &dcb))
        return IsGone(GetLastError()) ? EIO : EINVAL;
    dcb.BaudRate = settings.m_nBaud;
    dcb.ByteSize = static_cast<BYTE>(settings.m_nDataBits);
    static const BYTE s_parity[] = {NOPARITY, ODDPARITY, EVENPARITY, MARKPARITY};
    dcb.Parity = s_parity[settings.m_nParity & 3];
    dcb.fParity = settings.m_nParity != 0;
    dcb.StopBits = settings.m_nStopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fOutxCtsFlow = settings.m_bCtsFlow;
    dcb.fRtsControl = settings.m_bCtsFlow ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    // The serial link waits for DSR itself, within each write's limit.
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fDtrControl = s.bDtr ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    // Binary loader bytes include 0x11 and 0x13: without "X" they must pass untouched.
    dcb.fOutX = dcb.fInX = settings.m_bXonXoff;
    dcb.XonChar = settings.m_cXon;
    dcb.XoffChar = settings.m_cXoff;
    dcb.XonLim = 2048;
    dcb.XoffLim = 512;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    // A framing or parity error must not stop every later read until someone clears it.
    dcb.fAbortOnError = FALSE;
    if (!SetCommState(s.hPort, &dcb))
        return IsGone(GetLastError()) ? EIO : EINVAL;

    DCB back{};
    back.DCBlength = sizeof back;
    if (!GetCommState(s.hPort, &back))
        return EIO;
    applied.m_nBaud = back.BaudRate;
    applied.m_nDataBits = back.ByteSize;
    applied.m_nParity = !back.fParity && back.Parity == NOPARITY ? 0
                        : back.Parity == ODDPARITY               ? 1
                        : back.Parity == EVENPARITY              ? 2
                        : back.Parity == MARKPARITY              ? 3
                                                                 : 0;
    applied.m_nStopBits = back.StopBits == TWOSTOPBITS ? 2 : 1;
    applied.m_bCtsFlow = back.fOutxCtsFlow != 0;
    applied.m_bXonXoff = back.fOutX || back.fInX;
    applied.m_cXon = back.XonChar;
    applied.m_cXoff = back.XoffChar;
    return 0;
}

void CWinSerialDevice::SetDtr(bool bOn) {
    m_pState->bDtr = bOn;
    EscapeCommFunction(m_pState->hPort, bOn ? SETDTR : CLRDTR);
}

ISerialDevice::ELine CWinSerialDevice::GetDsr() {
    DWORD dwStatus = 0;
    if (GetCommModemStatus(m_pState->hPort, &dwStatus))
        return (dwStatus & MS_DSR_ON) ? ELine::On : ELine::Off;
    // A device without modem lines (a pseudo-terminal under wine, some virtual ports) says so.
    const DWORD dwError = GetLastError();
    if (dwError == ERROR_NOT_SUPPORTED || dwError == ERROR_INVALID_FUNCTION)
        return ELine::On;
    return IsGone(dwError) ? ELine::Gone : ELine::On;
}

void CWinSerialDevice::Purge(EQueue eQueues) {
    CState& s = *m_pState;
    DWORD dwFlags = 0;
    if (eQueues == EQueue::Input || eQueues == EQueue::Both) {
        // The wait's read is ended first, so that it cannot take a byte from before the purge
        // and hand it out after it; what it took goes with the rest.
        if (s.bWaitPending) {
            DWORD dwDone = 0;
            Finish(s.hPort, s.ovWait, dwDone, 0);
            s.bWaitPending = false;
        }
        s.bHaveByte = false;
        dwFlags |= PURGE_RXABORT | PURGE_RXCLEAR;
    }
    if (eQueues == EQueue::Output || eQueues == EQueue::Both)
        dwFlags |= PURGE_TXABORT | PURGE_TXCLEAR;
    PurgeComm(s.hPort, dwFlags);
}

ISerialDevice::EEvent CWinSerialDevice::WaitEvent() {
    CState& s = *m_pState;
    for (;;) {
        if (WaitForSingleObject(s.hWake, 0) == WAIT_OBJECT_0)
            return EEvent::Woken;
        if (s.bHaveByte)
            return EEvent::Data;
        if (!s.bWaitPending) {
            DWORD dwErrors = 0;
            COMSTAT stat{};
            if (!ClearCommError(s.hPort, &dwErrors, &stat))
                return EEvent::Dead;
            if (stat.cbInQue > 0)
                return EEvent::Data;
            ResetEvent(s.ovWait.hEvent);
            DWORD dwDone = 0;
            if (ReadFile(s.hPort, &s.nWaitByte, 1, &dwDone, &s.ovWait)) {
                s.bHaveByte = dwDone == 1;
                continue; // a byte, or the slice ended empty: look again
            }
            if (GetLastError() != ERROR_IO_PENDING)
                return EEvent::Dead;
            s.bWaitPending = true;
        }
        const HANDLE handles[2] = {s.ovWait.hEvent, s.hWake};
        const DWORD dwWhich = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
        if (dwWhich == WAIT_OBJECT_0 + 1)
            return EEvent::Woken;
        if (dwWhich != WAIT_OBJECT_0)
            return EEvent::Dead;
        if (s.CollectWait() == CState::EWait::Failed)
            return EEvent::Dead;
        if (s.bWaitPending)
            Sleep(0);
    }
}

void CWinSerialDevice::Wake() {
    SetEvent(m_pState->hWake);
}

void CWinSerialDevice::ClearWake() {
    ResetEvent(m_pState->hWake);
}

ssize_t CWinSerialDevice::ReadAvailable(void* pDest, size_t nMax) {
    CState& s = *m_pState;
    if (nMax == 0)
        return 0;
    // While the wait's read is pending it takes the next byte to arrive: a read beside it would
    // hand out later bytes before that one.
    if (s.bWaitPending) {
        if (s.CollectWait() == CState::EWait::Failed)
            return -1;
        if (s.bWaitPending)
            return 0;
    }
    auto* pBytes = static_cast<uint8_t*>(pDest);
    size_t nDone = 0;
    if (s.bHaveByte) {
        pBytes[nDone++] = s.nWaitByte;
        s.bHaveByte = false;
    }
    DWORD dwErrors = 0;
    COMSTAT stat{};
    if (!ClearCommError(s.hPort, &dwErrors, &stat))
        return nDone ? static_cast<ssize_t>(nDone) : -1;
    const DWORD dwWant = static_cast<DWORD>(std::min<size_t>(nMax - nDone, stat.cbInQue));
    if (dwWant == 0)
        return static_cast<ssize_t>(nDone);
    // The driver holds these bytes already, so the read ends at once.
    DWORD dwRead = 0;
    ResetEvent(s.ovRead.hEvent);
    if (!ReadFile(s.hPort, pBytes + nDone, dwWant, &dwRead, &s.ovRead) &&
        (GetLastError() != ERROR_IO_PENDING ||
         !GetOverlappedResult(s.hPort, &s.ovRead, &dwRead, TRUE)))
        return nDone ? static_cast<ssize_t>(nDone) : -1;
    return static_cast<ssize_t>(nDone + dwRead);
}

ssize_t CWinSerialDevice::WriteSome(const void* pData, size_t nCount, int nWaitMs) {
    CState& s = *m_pState;
    DWORD dwDone = 0;
    const ULONGLONG nUntil = GetTickCount64() + static_cast<ULONGLONG>(nWaitMs > 0 ? nWaitMs : 0);
    for (;;) {
        ResetEvent(s.ovWrite.hEvent);
        if (WriteFile(s.hPort, pData, static_cast<DWORD>(nCount), &dwDone, &s.ovWrite))
            return static_cast<ssize_t>(dwDone);
        const DWORD dwError = GetLastError();
        if (dwError == ERROR_IO_PENDING)
            break;
        // wine answers a write to a full pseudo-terminal with "not ready" instead of leaving it
        // pending: nothing was taken, so try again until the limit.
        if (dwError != ERROR_NOT_READY)
            return -1;
        if (GetTickCount64() >= nUntil)
            return 0;
        Sleep(1);
    }
    // Held off by the peer (CTS, XOFF) past the limit: the write is cancelled, and what went out
    // until then is the count.
    if (Finish(s.hPort, s.ovWrite, dwDone, nWaitMs > 0 ? static_cast<DWORD>(nWaitMs) : 0))
        return static_cast<ssize_t>(dwDone);
    const DWORD dwError = GetLastError();
    if (dwDone == 0 && dwError != ERROR_OPERATION_ABORTED && IsGone(dwError))
        return -1;
    return static_cast<ssize_t>(dwDone);
}

int CWinSerialDevice::OutputQueued() {
    DWORD dwErrors = 0;
    COMSTAT stat{};
    if (!ClearCommError(m_pState->hPort, &dwErrors, &stat))
        return IsGone(GetLastError()) ? -1 : 0;
    return static_cast<int>(stat.cbOutQue);
}

int CWinSerialDevice::GetSerialFlags(int&) {
    return ENOTSUP;
}

int CWinSerialDevice::SetSerialFlags(int) {
    return ENOTSUP;
}

// The FIFO trigger level is the driver's Advanced page on Windows, not the program's to set.
int CWinSerialDevice::GetReceiveTrigger(int&) {
    return ENOTSUP;
}

int CWinSerialDevice::SetReceiveTrigger(int) {
    return ENOTSUP;
}
