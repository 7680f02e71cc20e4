#include "serial/SerialPort.h"

#include <pthread.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "platform/Clock.h"
#include "ports/NetSerialDevice.h"
#include "ports/PortMap.h"
#include "ports/SerialDevice.h"
#include "serial/LinkState.h"

int64_t NowUs() {
    return GetClock().GetMicroseconds();
}

void SleepUs(int64_t nMicroseconds) {
    GetClock().SleepMicroseconds(nMicroseconds);
}

namespace {

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

CSerialPort::CSerialPort() : m_pLink(std::make_unique<CLinkState>()) {}

CSerialPort::~CSerialPort() {
    if (m_pLink->bRunning)
        Close();
}

int CSerialPort::ApplySettings() {
    CLineSettings settings;
    settings.m_nBaud = m_settings.BaudRate;
    settings.m_nDataBits = m_settings.ByteSize;
    settings.m_nParity = m_settings.Parity;
    settings.m_nStopBits = m_settings.StopBits == 2 ? 2 : 1;
    settings.m_bCtsFlow = m_settings.fOutxCtsFlow;
    settings.m_bXonXoff = m_settings.fOutX || m_settings.fInX;
    settings.m_cXon = m_settings.XonChar;
    settings.m_cXoff = m_settings.XoffChar;
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
        if (m_error.m_strRefused.empty())
            m_error.m_strCause = m_pLink->pDevice->GetCauseText();
        return 0;
    }
    m_pLink->settings = settings;
    m_pLink->bDsrFlow = m_settings.fOutxDsrFlow;
    return 1;
}

int CSerialPort::Open(const char* pszPort, uint32_t nBaud, const char* pszMode) {
    CLinkState& link = *m_pLink;
    m_error = CPortError();
    if (link.bRunning) {
        m_error.m_nErrno = EBUSY;
        return 0;
    }
    m_settings.BaudRate = nBaud;
    if (!ParseMode(pszMode) || nBaud == 0)
        return 0;

    m_error.m_strDevice = pszPort ? ResolvePortDevice(pszPort) : std::string();
    if (m_error.m_strDevice.empty()) {
        m_error.m_nErrno = ENODEV;
        TraceOpen(pszPort, pszMode, nullptr);
        return 0;
    }
    // A port on a device server needs the network device, a local one the system's.
    if (IsNetworkPortName(m_error.m_strDevice) != IsNetworkDevice(*link.pDevice) ||
        (m_nNetworkOpenLimitMs > 0 && IsNetworkPortName(m_error.m_strDevice)))
        link.pDevice = MakeSerialDeviceFor(m_error.m_strDevice, m_nNetworkOpenLimitMs);
    if (const int nErrno = link.pDevice->Open(m_error.m_strDevice)) {
        m_error.m_nErrno = nErrno;
        m_error.m_strCause = link.pDevice->GetCauseText();
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
    link.bOutputAbandoned = false;
    link.bDsrKnown = false;
    link.pDevice->SetDtr(true);
    {
        std::lock_guard lock(link.mutex);
        link.nReadPos = link.nWritePos = 0;
    }
    TraceOpen(pszPort, pszMode, pszLowLatency);
    link.pDevice->Purge(ISerialDevice::EQueue::Both);
    link.Trace("purge");
    link.WatchDsr();

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

void CSerialPort::Close() {
    CLinkState& link = *m_pLink;
    if (!link.thread.joinable() && !link.pDevice->IsOpen())
        return;
    // Bytes a completed write handed over may still sit where the output queue does not count
    // them: a pseudo-terminal's buffer the far end has not read, a UART's transmit FIFO, a USB
    // adapter's own buffers, while the machine holds the line at the very end. Purging the output
    // then would cut off the end of a package the caller was told went out. Only what the driver
    // still counts is waited for, with the same patience as a write; DTR stays up meanwhile.
    link.WatchDsr();
    if (!link.bOutputAbandoned && !link.bDead && link.pDevice->IsOpen()) {
        CWriteLimits limits;
        limits.m_nStallUs = int64_t(m_nStallLimitMs) * 1000;
        EWriteEnd eEnd = Drain(NowUs(), 0, limits);
        // A device server still holds what it took; ending the connection throws it away.
        if (eEnd == EWriteEnd::Done)
            eEnd = AwaitDelivery(limits);
        link.EndHold(eEnd != EWriteEnd::Done && eEnd != EWriteEnd::Unconfirmed);
        if (eEnd == EWriteEnd::Unconfirmed)
            m_eWriteEnd = eEnd;
        else if (eEnd != EWriteEnd::Done) {
            link.bOutputAbandoned = true;
            m_eWriteEnd = eEnd;
        }
    }
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
    if (link.bOutputAbandoned) {
        link.pDevice->Purge(ISerialDevice::EQueue::Both);
        link.Trace("purge");
    } else {
        link.pDevice->Purge(ISerialDevice::EQueue::Input);
        link.Trace("purge input");
    }
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

void CSerialPort::LimitNetworkOpen(int nMilliseconds) {
    m_nNetworkOpenLimitMs = nMilliseconds;
}

void CSerialPort::LimitWritesToTimeouts(bool bLimit) {
    m_bPassLimit = bLimit;
}

void CSerialPort::SetTrace(IWireTrace* pTrace) {
    m_pLink->pTrace = pTrace;
}
