#include "serial/SerialPort.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/Clock.h"
#include "platform/PortMap.h"
#include "platform/SerialDevice.h"

namespace {

constexpr int kBufferSize = 16384;
constexpr int kPiece = 256;

// How often a write held off by a low DSR looks at the line again.
constexpr int kDsrPollMs = 10;

int64_t NowUs() {
    return GetClock().GetMicroseconds();
}

void SleepUs(int64_t nMicroseconds) {
    GetClock().SleepMicroseconds(nMicroseconds);
}

} // namespace

// The open port and its receive side. The receive thread and the caller's thread meet here; the
// mutex covers the buffer positions, so a take, a store, a rewind and the reset in Open never
// overlap.
struct CSerialPort::CLinkState {
    std::unique_ptr<ISerialDevice> pDevice = MakeSerialDevice();
    CLineSettings settings;
    bool bDsrFlow = false;
    // The driver's serial flags before Open asked for low latency; put back at Close.
    bool bRestoreFlags = false;
    int nOldFlags = 0;

    std::atomic<bool> bRunning{false};
    std::atomic<bool> bDead{false};
    bool bStop = false; // under mutex
    std::thread thread;

    std::mutex mutex;
    std::condition_variable cvRoom; // the reader has taken everything, or a stop
    std::condition_variable cvByte; // a byte was stored, or the device went away
    std::unique_ptr<uint8_t[]> pBuffer{new uint8_t[kBufferSize]};
    int nReadPos = 0;
    int nWritePos = 0;
};

CSerialPort::CSerialPort() : m_pLink(std::make_unique<CLinkState>()) {}

CSerialPort::~CSerialPort() {
    if (m_pLink->bRunning)
        Close();
}

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

int CSerialPort::ApplySettings() {
    CLineSettings settings;
    settings.m_nBaud = m_dcb.BaudRate;
    settings.m_nDataBits = m_dcb.ByteSize;
    settings.m_nParity = m_dcb.Parity;
    settings.m_nStopBits = m_dcb.StopBits == 2 ? 2 : 1;
    settings.m_bCtsFlow = m_dcb.fOutxCtsFlow;
    settings.m_bXonXoff = m_dcb.fOutX || m_dcb.fInX;
    settings.m_cXon = m_dcb.XonChar;
    settings.m_cXoff = m_dcb.XoffChar;
    CLineSettings applied;
    int nErrno = m_pLink->pDevice->Apply(settings, applied);
    // A driver that took some settings and not others would send a frame the machine cannot
    // read, or hold no handshake where one is needed.
    if (nErrno == 0 && !settings.IsSameLine(applied))
        nErrno = EINVAL;
    if (nErrno != 0) {
        m_error.m_nErrno = nErrno;
        return 0;
    }
    m_pLink->settings = settings;
    m_pLink->bDsrFlow = m_dcb.fOutxDsrFlow;
    return 1;
}

int CSerialPort::Open(const char* pszPort, uint32_t nBaud, const char* pszMode) {
    CLinkState& link = *m_pLink;
    m_error = CPortError();
    if (link.bRunning) {
        m_error.m_nErrno = EBUSY;
        return 0;
    }
    m_dcb.BaudRate = nBaud;
    if (!ParseMode(pszMode) || nBaud == 0)
        return 0;

    m_error.m_strDevice = pszPort ? ResolvePortDevice(pszPort) : std::string();
    if (m_error.m_strDevice.empty()) {
        m_error.m_nErrno = ENODEV;
        return 0;
    }
    if (const int nErrno = link.pDevice->Open(m_error.m_strDevice)) {
        m_error.m_nErrno = nErrno;
        return 0;
    }
    AskLowLatency(link);
    link.pDevice->Purge();
    SetTimeoutsForBaud(nBaud);

    auto fail = [&] {
        link.bRunning = false;
        ReleaseDevice(link);
        std::lock_guard lock(link.mutex);
        link.nReadPos = link.nWritePos = 0;
        return 0;
    };
    if (!ApplySettings())
        return fail();

    link.bRunning = true;
    link.bDead = false;
    {
        std::lock_guard lock(link.mutex);
        link.bStop = false;
    }
    link.pDevice->ClearWake();
    try {
        link.thread = std::thread(ReceiveThreadProc, &link);
        pthread_setname_np(link.thread.native_handle(), "serial-receive");
    } catch (const std::system_error& e) {
        m_error.m_nErrno = e.code().value();
        return fail();
    }
    link.pDevice->SetDtr(true);
    {
        std::lock_guard lock(link.mutex);
        link.nReadPos = link.nWritePos = 0;
    }
    // The new thread may already wait for room left by the last opening's unread bytes.
    link.cvRoom.notify_all();
    link.pDevice->Purge();
    return 1;
}

void CSerialPort::Close() {
    CLinkState& link = *m_pLink;
    if (!link.thread.joinable() && !link.pDevice->IsOpen())
        return;
    {
        std::lock_guard lock(link.mutex);
        link.bStop = true;
    }
    link.cvRoom.notify_all();
    link.pDevice->Wake();
    link.bRunning = false;
    if (link.thread.joinable())
        link.thread.join();
    link.pDevice->SetDtr(false);
    link.pDevice->Purge();
    ReleaseDevice(link);
}

// A USB adapter holds received bytes until its latency timer runs out (16 ms on the common
// ones), which makes every echo of the loader upload wait for it. Drivers without the flag, and
// pseudo-terminals, refuse; the port works all the same, only slower on such an adapter.
void CSerialPort::AskLowLatency(CLinkState& link) {
    link.bRestoreFlags = link.pDevice->AskLowLatency(link.nOldFlags);
}

// The next program to open the device finds the driver as it was before.
void CSerialPort::ReleaseDevice(CLinkState& link) {
    if (link.bRestoreFlags)
        link.pDevice->RestoreLatency(link.nOldFlags);
    link.bRestoreFlags = false;
    link.pDevice->Close();
}

void CSerialPort::MarkDead(CLinkState* pLink) {
    {
        std::lock_guard lock(pLink->mutex);
        pLink->bDead = true;
    }
    pLink->cvByte.notify_all();
}

// Waits until at least one piece fits behind nWritePos. The buffer is linear: when it is nearly
// full, reception pauses until the reader has taken every stored byte, then both positions go
// back to 0. False when the thread is to end.
bool CSerialPort::WaitForRoom(CLinkState* pLink) {
    std::unique_lock lock(pLink->mutex);
    while (!pLink->bStop && pLink->nWritePos + kPiece > kBufferSize) {
        if (pLink->nReadPos == pLink->nWritePos) {
            pLink->nReadPos = pLink->nWritePos = 0;
            break;
        }
        pLink->cvRoom.wait(lock);
    }
    return !pLink->bStop;
}

void CSerialPort::ReceiveThreadProc(CLinkState* pLink) {
    uint8_t scratch[kPiece + 1];
    while (pLink->bRunning) {
        if (!WaitForRoom(pLink))
            return;
        const ISerialDevice::EEvent event = pLink->pDevice->WaitEvent();
        if (event == ISerialDevice::EEvent::Dead) {
            MarkDead(pLink);
            return;
        }
        if (event == ISerialDevice::EEvent::Woken) {
            std::lock_guard lock(pLink->mutex);
            if (pLink->bStop)
                return;
            pLink->pDevice->ClearWake();
            continue;
        }
        for (;;) {
            if (!WaitForRoom(pLink))
                return;
            // Room only grows while the thread is outside the lock (only the thread stores), so
            // the driver read runs unlocked and the reader never waits for a system call.
            const ssize_t nRead = pLink->pDevice->ReadAvailable(scratch, kPiece);
            if (nRead < 0) {
                MarkDead(pLink);
                return;
            }
            if (nRead == 0)
                break;
            {
                std::lock_guard lock(pLink->mutex);
                std::memcpy(pLink->pBuffer.get() + pLink->nWritePos, scratch, nRead);
                pLink->nWritePos += static_cast<int>(nRead);
            }
            pLink->cvByte.notify_all();
            // A short read emptied the driver; the next line event says when more is there.
            if (nRead < kPiece)
                break;
        }
    }
}

int CSerialPort::ReadByte() {
    CLinkState& link = *m_pLink;
    std::unique_lock lock(link.mutex);
    if (link.nReadPos >= link.nWritePos)
        return -1;
    const int nByte = link.pBuffer[link.nReadPos++];
    const bool bTakenAll = link.nReadPos == link.nWritePos;
    lock.unlock();
    if (bTakenAll)
        link.cvRoom.notify_one();
    return nByte;
}

int CSerialPort::ReadBytes(void* pDest, int nMax) {
    auto* pBytes = static_cast<uint8_t*>(pDest);
    int nTaken = 0;
    while (nTaken < nMax) {
        const int nByte = ReadByte();
        if (nByte < 0)
            break;
        pBytes[nTaken++] = static_cast<uint8_t>(nByte);
    }
    return nTaken;
}

int CSerialPort::WaitForByte(int nMilliseconds) {
    CLinkState& link = *m_pLink;
    std::unique_lock lock(link.mutex);
    GetClock().WaitFor(link.cvByte, lock, std::max(nMilliseconds, 0), [&] {
        return link.nReadPos < link.nWritePos || !link.bRunning || link.bDead;
    });
    return link.nReadPos < link.nWritePos ? 1 : 0;
}

int CSerialPort::CountStored() const {
    std::lock_guard lock(m_pLink->mutex);
    return m_pLink->nWritePos - m_pLink->nReadPos;
}

bool CSerialPort::IsDead() const {
    return m_pLink->bDead;
}

const CPortError& CSerialPort::GetOpenError() const {
    return m_error;
}

void CSerialPort::SetStallLimit(int nMilliseconds) {
    m_nStallLimitMs = nMilliseconds;
}

void CSerialPort::LimitWritesToTimeouts(bool bLimit) {
    m_bPassLimit = bLimit;
}

int CSerialPort::Write(const void* pData, uint32_t nCount) {
    CLinkState& link = *m_pLink;
    const int64_t nStartUs = NowUs();
    for (bool bIdle = false; !m_bWriting.compare_exchange_strong(bIdle, true); bIdle = false) {
        if (NowUs() - nStartUs > 1000000)
            return 0;
        SleepUs(1000);
    }
    if (nCount == 0 || !pData || !link.bRunning || link.bDead) {
        m_bWriting = false;
        return 0;
    }

    CWriteLimits limits;
    limits.m_nStallUs = int64_t(m_nStallLimitMs) * 1000;
    if (m_bPassLimit)
        limits.m_nDeadlineUs = nStartUs + int64_t(PassLimitMs(nCount)) * 1000;
    const auto* pBytes = static_cast<const uint8_t*>(pData);
    uint32_t nRemaining = nCount;
    int64_t nProgressUs = nStartUs;
    int nResult = 1;
    while (nRemaining > 0 && link.bRunning) {
        const int64_t nNowUs = NowUs();
        if (link.bDead || limits.IsOver(nNowUs, nProgressUs)) {
            nResult = 0;
            break;
        }
        const int nLeftMs = limits.LeftMs(nNowUs, nProgressUs);
        // Linux has no DSR output flow control: the peer's DSR is waited for here. A device that
        // went away meanwhile ends the wait at once, whether the receive thread saw it first or
        // the line status call says so.
        if (link.bDsrFlow) {
            const ISerialDevice::ELine dsr = link.pDevice->GetDsr();
            if (dsr == ISerialDevice::ELine::Gone) {
                MarkDead(&link);
                nResult = 0;
                break;
            }
            if (dsr == ISerialDevice::ELine::Off) {
                std::unique_lock lock(link.mutex);
                GetClock().WaitFor(link.cvByte, lock, std::min(kDsrPollMs, nLeftMs),
                                   [&] { return link.bDead || !link.bRunning; });
                continue;
            }
        }
        const int nWaitMs = std::min(std::max(PassLimitMs(nRemaining), 1), nLeftMs);
        const ssize_t nWritten = link.pDevice->WriteSome(pBytes, nRemaining, nWaitMs);
        if (nWritten < 0) {
            MarkDead(&link);
            nResult = 0;
            break;
        }
        if (nWritten > 0) {
            pBytes += nWritten;
            nRemaining -= static_cast<uint32_t>(nWritten);
            nProgressUs = NowUs();
        }
    }
    if (nRemaining > 0)
        nResult = 0;
    if (nResult)
        nResult = Drain(nStartUs, nCount, limits);
    m_bWriting = false;
    return nResult;
}

// The time-out settings' limit for one pass of nCount bytes: 1004 ms for "F;" at 9600.
int CSerialPort::PassLimitMs(uint32_t nCount) const {
    return static_cast<int>(m_timeouts.WriteTotalTimeoutConstant +
                            m_timeouts.WriteTotalTimeoutMultiplier *
                                std::min<uint32_t>(nCount, 4096));
}

bool CSerialPort::CWriteLimits::IsOver(int64_t nNowUs, int64_t nProgressUs) const {
    return nNowUs - nProgressUs >= m_nStallUs || nNowUs >= m_nDeadlineUs;
}

int CSerialPort::CWriteLimits::LeftMs(int64_t nNowUs, int64_t nProgressUs) const {
    const int64_t nLeftUs = std::min(m_nStallUs - (nNowUs - nProgressUs), m_nDeadlineUs - nNowUs);
    return static_cast<int>(std::clamp<int64_t>((nLeftUs + 999) / 1000, 1, INT32_MAX));
}

// The bytes handed to the driver are on the line once its output queue is empty and their wire
// time has passed since the write began. A pseudo-terminal has no queue to speak of, yet the
// wire time still paces the caller like a real cable. Never a plain tcdrain: it waits forever
// when CTS stays low. A queue that shrinks, however slowly, is waited out; one that stays put
// for the stall limit, or past the write's deadline, fails the write.
int CSerialPort::Drain(int64_t nStartUs, uint32_t nCount, const CWriteLimits& limits) {
    CLinkState& link = *m_pLink;
    const int64_t nWireUs = int64_t(nCount) * link.settings.BitsPerByte() * 1000000 /
                            std::max<uint32_t>(link.settings.m_nBaud, 1);
    int64_t nProgressUs = NowUs();
    int nLastQueued = -1;
    for (;;) {
        const int nQueued = link.pDevice->OutputQueued();
        if (nQueued < 0) {
            MarkDead(&link);
            return 0;
        }
        if (nQueued == 0)
            break;
        if (link.bDead)
            return 0;
        const int64_t nNowUs = NowUs();
        if (nLastQueued < 0 || nQueued < nLastQueued)
            nProgressUs = nNowUs;
        if (limits.IsOver(nNowUs, nProgressUs))
            return 0;
        nLastQueued = nQueued;
        const int64_t nQueueUs = int64_t(nQueued) * link.settings.BitsPerByte() * 1000000 /
                                 std::max<uint32_t>(link.settings.m_nBaud, 1);
        SleepUs(std::clamp<int64_t>(nQueueUs, 100, 10000));
    }
    SleepUs(nStartUs + nWireUs - NowUs());
    return 1;
}

int CSerialPort::WriteString(const char* pszText) {
    return pszText ? Write(pszText, static_cast<uint32_t>(std::strlen(pszText))) : 0;
}

int CSerialPort::WriteByte(int nValue) {
    const uint8_t nByte = static_cast<uint8_t>(nValue);
    return Write(&nByte, 1);
}

int CSerialPort::WriteBlock(const void* pData, uint32_t nCount) {
    return Write(pData, nCount);
}
