#include "serial/SerialPort.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/Clock.h"
#include "platform/PortMap.h"
#include "platform/SerialDevice.h"
#include "serial/WireTrace.h"

namespace {

constexpr int kBufferSize = 16384;
constexpr int kPiece = 256;

// How often a write held off by a low DSR looks at the line again.
constexpr int kDsrPollMs = 10;
// An output queue that has not moved for this long is held by the far end, not merely slow.
constexpr int64_t kHoldUs = 50000;
// A write with no byte leaving for this long counts as held; while held, the cancel check is
// asked this often, which keeps a Cancel well within a second.
constexpr int kHeldPollMs = 250;

int64_t NowUs() {
    return GetClock().GetMicroseconds();
}

void SleepUs(int64_t nMicroseconds) {
    GetClock().SleepMicroseconds(nMicroseconds);
}

std::string Frame(const CLineSettings& s) {
    return std::to_string(s.m_nDataBits) + "NOEM"[std::clamp(s.m_nParity, 0, 3)] +
           std::to_string(s.m_nStopBits);
}

// The settings the driver holds otherwise than asked, in the terms of a port's settings page,
// which read the same in every language.
std::string DescribeRefused(const CLineSettings& asked, const CLineSettings& held) {
    std::string str;
    auto add = [&](const std::string& strAsked, const std::string& strHeld) {
        if (strAsked != strHeld)
            str += (str.empty() ? "" : ", ") + strAsked + " -> " + strHeld;
    };
    add(std::to_string(asked.m_nBaud) + " bps", std::to_string(held.m_nBaud) + " bps");
    add(Frame(asked), Frame(held));
    auto onOff = [](bool bOn) { return std::string(bOn ? "on" : "off"); };
    if (asked.m_bCtsFlow != held.m_bCtsFlow)
        add("RTS/CTS " + onOff(asked.m_bCtsFlow), onOff(held.m_bCtsFlow));
    if (asked.m_bXonXoff != held.m_bXonXoff)
        add("XON/XOFF " + onOff(asked.m_bXonXoff), onOff(held.m_bXonXoff));
    if (str.empty()) // only the XON/XOFF characters differ
        str = "XON/XOFF";
    return str;
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
    // The receive FIFO's trigger level before Open lowered it; put back at Close.
    bool bRestoreTrigger = false;
    int nOldTrigger = 0;

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

    IWireTrace* pTrace = nullptr;
    int64_t nHoldStartUs = -1; // a flow-control hold the trace has told of and not yet ended

    void Trace(std::string strText) {
        if (pTrace)
            pTrace->TraceEvent(NowUs(), std::move(strText));
    }
    void StartHold(int64_t nSinceUs, const char* pszWhy) {
        if (pTrace && nHoldStartUs < 0) {
            nHoldStartUs = nSinceUs;
            pTrace->TraceEvent(nSinceUs, std::string("hold: ") + pszWhy);
        }
    }
    void EndHold(bool bGaveUp = false) {
        if (nHoldStartUs < 0)
            return;
        const int64_t nNowUs = NowUs();
        char szText[80];
        std::snprintf(szText, sizeof szText, "hold ended after %.3f s%s",
                      double(nNowUs - nHoldStartUs) / 1e6, bGaveUp ? ": the write gave up" : "");
        nHoldStartUs = -1;
        pTrace->TraceEvent(nNowUs, szText);
    }
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
    if (nErrno == 0 && !settings.IsSameLine(applied)) {
        nErrno = EINVAL;
        m_pLink->Trace(std::string("read back differs: ") + std::to_string(applied.m_nBaud) + " " +
                       "NOEM"[applied.m_nParity & 3] + std::to_string(applied.m_nDataBits) +
                       std::to_string(applied.m_nStopBits) +
                       (applied.m_bCtsFlow ? " CTS flow" : "") +
                       (applied.m_bXonXoff ? " xon/xoff" : ""));
        m_error.m_strRefused = DescribeRefused(settings, applied);
    }
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
        TraceOpen(pszPort, pszMode, nullptr);
        return 0;
    }
    if (const int nErrno = link.pDevice->Open(m_error.m_strDevice)) {
        m_error.m_nErrno = nErrno;
        TraceOpen(pszPort, pszMode, nullptr);
        return 0;
    }
    const char* pszLowLatency = AskLowLatency(link);
    link.bRestoreTrigger = false;
    if (m_bLowerTrigger)
        AskReceiveTrigger(link);
    link.pDevice->Purge(ISerialDevice::EQueue::Both);
    SetTimeoutsForBaud(nBaud);

    auto fail = [&] {
        TraceOpen(pszPort, pszMode, pszLowLatency);
        link.bRunning = false;
        ReleaseDevice(link);
        std::lock_guard lock(link.mutex);
        link.nReadPos = link.nWritePos = 0;
        return 0;
    };
    if (!ApplySettings())
        return fail();

    // DTR up and the queues purged before the receive thread starts: a purge beside its wait
    // would race it on the device, and a byte it had taken before the purge could still be
    // handed out after it. What the raised DTR shakes loose goes with the purge.
    link.pDevice->SetDtr(true);
    {
        std::lock_guard lock(link.mutex);
        link.nReadPos = link.nWritePos = 0;
    }
    TraceOpen(pszPort, pszMode, pszLowLatency);
    link.pDevice->Purge(ISerialDevice::EQueue::Both);
    link.Trace("purge");

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
    return 1;
}

// "open COM1 (/dev/ttyUSB0) 9600 N81 handshake off; read back equal; low latency on", or what
// failed. The device's settings are read back inside ApplySettings, which fails on a difference.
void CSerialPort::TraceOpen(const char* pszPort, const char* pszMode, const char* pszLowLatency) {
    if (!m_pLink->pTrace)
        return;
    std::string strPort = pszPort ? pszPort : "";
    if (!strPort.empty() && strPort.back() == ':')
        strPort.pop_back();
    std::string strText = "open " + strPort + " (" + m_error.m_strDevice + ") " +
                          std::to_string(m_dcb.BaudRate) + " " + std::string(pszMode, 3) + " " +
                          (pszMode[3] == 'H'   ? "handshake on"
                           : pszMode[3] == 'X' ? "handshake xon/xoff"
                                               : "handshake off");
    if (m_error.m_nErrno != 0) {
        strText += std::string("; failed: ") + std::strerror(m_error.m_nErrno);
    } else {
        strText += "; read back equal";
    }
    if (pszLowLatency)
        strText += std::string("; low latency ") + pszLowLatency;
    m_pLink->Trace(std::move(strText));
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
    link.pDevice->Purge(ISerialDevice::EQueue::Both);
    link.Trace("purge");
    ReleaseDevice(link);
    link.Trace("close");
}

// A USB adapter holds received bytes until its latency timer runs out (16 ms on the common
// ones), which makes every echo of the loader upload wait for it. Drivers without the flag, and
// pseudo-terminals, refuse; the port works all the same, only slower on such an adapter.
const char* CSerialPort::AskLowLatency(CLinkState& link) {
    const ISerialDevice::ELowLatency eLatency = link.pDevice->AskLowLatency(link.nOldFlags);
    link.bRestoreFlags = eLatency == ISerialDevice::ELowLatency::Granted;
    return eLatency == ISerialDevice::ELowLatency::Refused ? "refused" : "on";
}

// A 16550 raises its receive interrupt at 8 bytes by default, or after four characters of
// silence: each echo of the loader upload then comes four characters late, the upload taking
// nearly three times its wire time. Writing rx_trig_bytes is root's unless a udev rule allows
// it; without it the port works all the same, only slower.
void CSerialPort::AskReceiveTrigger(CLinkState& link) {
    int nBytes = 0;
    if (link.pDevice->GetReceiveTrigger(nBytes) != 0 || nBytes <= 1)
        return;
    if (link.pDevice->SetReceiveTrigger(1) == 0) {
        link.bRestoreTrigger = true;
        link.nOldTrigger = nBytes;
    }
}

// The next program to open the device finds the driver as it was before.
void CSerialPort::ReleaseDevice(CLinkState& link) {
    if (link.bRestoreFlags)
        link.pDevice->RestoreLatency(link.nOldFlags);
    link.bRestoreFlags = false;
    if (link.bRestoreTrigger)
        link.pDevice->SetReceiveTrigger(link.nOldTrigger);
    link.bRestoreTrigger = false;
    link.pDevice->Close();
}

void CSerialPort::MarkDead(CLinkState* pLink) {
    {
        std::lock_guard lock(pLink->mutex);
        if (!pLink->bDead)
            pLink->Trace("hang-up");
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
            if (pLink->pTrace)
                pLink->pTrace->TraceBytes(NowUs(), false, scratch, static_cast<size_t>(nRead));
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

void CSerialPort::SetCancelCheck(std::function<bool()> fnCancelled) {
    m_fnCancelled = std::move(fnCancelled);
}

void CSerialPort::LowerReceiveTrigger(bool bLower) {
    m_bLowerTrigger = bLower;
}

void CSerialPort::LimitWritesToTimeouts(bool bLimit) {
    m_bPassLimit = bLimit;
}

void CSerialPort::SetTrace(IWireTrace* pTrace) {
    m_pLink->pTrace = pTrace;
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
        m_eWriteEnd = link.bDead ? EWriteEnd::Dead : EWriteEnd::Refused;
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
    EWriteEnd eEnd = EWriteEnd::Done;
    while (nRemaining > 0 && link.bRunning) {
        const int64_t nNowUs = NowUs();
        if (link.bDead) {
            eEnd = EWriteEnd::Dead;
            break;
        }
        if (limits.IsOver(nNowUs, nProgressUs)) {
            eEnd = EWriteEnd::Held;
            break;
        }
        if (IsCancelledWhileHeld(nNowUs, nProgressUs)) {
            eEnd = EWriteEnd::Cancelled;
            break;
        }
        // Short waits while held, so that the cancel check is asked often enough.
        const int nLeftMs = std::min(limits.LeftMs(nNowUs, nProgressUs), kHeldPollMs);
        // Linux has no DSR output flow control: the peer's DSR is waited for here. A device that
        // went away meanwhile ends the wait at once, whether the receive thread saw it first or
        // the line status call says so.
        if (link.bDsrFlow) {
            const ISerialDevice::ELine dsr = link.pDevice->GetDsr();
            if (dsr == ISerialDevice::ELine::Gone) {
                MarkDead(&link);
                eEnd = EWriteEnd::Dead;
                break;
            }
            if (dsr == ISerialDevice::ELine::Off) {
                link.StartHold(nNowUs, "DSR low");
                std::unique_lock lock(link.mutex);
                GetClock().WaitFor(link.cvByte, lock, std::min(kDsrPollMs, nLeftMs),
                                   [&] { return link.bDead || !link.bRunning; });
                continue;
            }
        }
        link.EndHold();
        const int nWaitMs = std::min(std::max(PassLimitMs(nRemaining), 1), nLeftMs);
        const int64_t nWriteUs = link.pTrace ? NowUs() : 0;
        const ssize_t nWritten = link.pDevice->WriteSome(pBytes, nRemaining, nWaitMs);
        if (nWritten < 0) {
            MarkDead(&link);
            eEnd = EWriteEnd::Dead;
            break;
        }
        if (nWritten == 0 && NowUs() - nProgressUs >= kHoldUs)
            link.StartHold(nProgressUs, link.settings.m_bCtsFlow ? "CTS low" : "output stopped");
        if (nWritten > 0) {
            if (link.pTrace)
                link.pTrace->TraceBytes(nWriteUs, true, pBytes, static_cast<size_t>(nWritten));
            pBytes += nWritten;
            nRemaining -= static_cast<uint32_t>(nWritten);
            nProgressUs = NowUs();
        }
    }
    if (eEnd == EWriteEnd::Done && nRemaining > 0)
        eEnd = EWriteEnd::Refused; // closed meanwhile
    if (eEnd == EWriteEnd::Done)
        eEnd = Drain(nStartUs, nCount, limits);
    link.EndHold(eEnd != EWriteEnd::Done);
    m_eWriteEnd = eEnd;
    m_bWriting = false;
    return eEnd == EWriteEnd::Done ? 1 : 0;
}

// Asks the cancel check only once the write has been held for a moment, so a write that flows
// never takes a Cancel meant for the caller's own next check.
bool CSerialPort::IsCancelledWhileHeld(int64_t nNowUs, int64_t nProgressUs) {
    if (!m_fnCancelled || nNowUs - nProgressUs < int64_t(kHeldPollMs) * 1000 ||
        nNowUs - m_nCancelAskedUs < int64_t(kHeldPollMs) * 1000)
        return false;
    m_nCancelAskedUs = nNowUs;
    return m_fnCancelled();
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
EWriteEnd CSerialPort::Drain(int64_t nStartUs, uint32_t nCount, const CWriteLimits& limits) {
    CLinkState& link = *m_pLink;
    const int64_t nWireUs = int64_t(nCount) * link.settings.BitsPerByte() * 1000000 /
                            std::max<uint32_t>(link.settings.m_nBaud, 1);
    int64_t nProgressUs = NowUs();
    int nLastQueued = -1;
    for (;;) {
        const int nQueued = link.pDevice->OutputQueued();
        if (nQueued < 0) {
            MarkDead(&link);
            return EWriteEnd::Dead;
        }
        if (nQueued == 0)
            break;
        if (link.bDead)
            return EWriteEnd::Dead;
        const int64_t nNowUs = NowUs();
        if (nLastQueued < 0 || nQueued < nLastQueued) {
            nProgressUs = nNowUs;
            link.EndHold();
        } else if (nNowUs - nProgressUs >= kHoldUs) {
            link.StartHold(nProgressUs, link.settings.m_bCtsFlow ? "CTS low" : "output stopped");
        }
        if (limits.IsOver(nNowUs, nProgressUs))
            return EWriteEnd::Held;
        if (IsCancelledWhileHeld(nNowUs, nProgressUs))
            return EWriteEnd::Cancelled;
        nLastQueued = nQueued;
        const int64_t nQueueUs = int64_t(nQueued) * link.settings.BitsPerByte() * 1000000 /
                                 std::max<uint32_t>(link.settings.m_nBaud, 1);
        SleepUs(std::clamp<int64_t>(nQueueUs, 100, 10000));
    }
    SleepUs(nStartUs + nWireUs - NowUs());
    return EWriteEnd::Done;
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
