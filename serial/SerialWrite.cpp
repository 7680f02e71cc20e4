#include "serial/SerialPort.h"

#include <algorithm>
#include <cstring>

#include "platform/Clock.h"
#include "serial/LinkState.h"

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
            if (link.pTrace)
                link.NoteDsr(dsr);
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
    // A refused write handed nothing over and leaves the verdict on the bytes before it alone.
    if (eEnd != EWriteEnd::Refused || nRemaining < nCount)
        link.bOutputAbandoned = eEnd != EWriteEnd::Done;
    m_eWriteEnd = eEnd;
    m_bWriting = false;
    return eEnd == EWriteEnd::Done ? 1 : 0;
}

// Asks the cancel check only once the write has been held for a moment, so a write that flows
// never takes a Cancel meant for the caller's own next check.
bool CSerialPort::IsCancelledWhileHeld(int64_t nNowUs, int64_t nProgressUs) {
    return nNowUs - nProgressUs >= int64_t(kHeldPollMs) * 1000 && IsCancelledNow(nNowUs);
}

// The caller's check is asked at most once a poll period, however often the wait looks.
bool CSerialPort::IsCancelledNow(int64_t nNowUs) {
    if (!m_fnCancelled || nNowUs - m_nCancelAskedUs < int64_t(kHeldPollMs) * 1000)
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

// The device is asked until it knows; a hold is waited out up to the stall limit, and Cancel is
// asked throughout, since the operator may give up on a machine that never takes the rest.
EWriteEnd CSerialPort::AwaitDelivery(const CWriteLimits& limits) {
    CLinkState& link = *m_pLink;
    int64_t nProgressUs = NowUs();
    std::string strHow;
    for (;;) {
        const ISerialDevice::EDelivery eDelivery = link.pDevice->CheckDelivery(strHow);
        switch (eDelivery) {
        case ISerialDevice::EDelivery::OnLine:
            if (!strHow.empty())
                link.Trace("delivery: " + strHow);
            return EWriteEnd::Done;
        case ISerialDevice::EDelivery::Unknown:
            link.Trace("delivery: " + strHow);
            return EWriteEnd::Unconfirmed;
        case ISerialDevice::EDelivery::Gone:
            MarkDead(&link);
            return EWriteEnd::Dead;
        case ISerialDevice::EDelivery::Pending:
            nProgressUs = NowUs();
            link.EndHold();
            break;
        case ISerialDevice::EDelivery::Held:
            break;
        }
        const int64_t nNowUs = NowUs();
        if (eDelivery == ISerialDevice::EDelivery::Held && nNowUs - nProgressUs >= kHoldUs &&
            link.nHoldStartUs < 0) {
            link.StartHold(nProgressUs, "the server holds the last bytes");
            link.Trace("delivery held: " + strHow);
        }
        if (limits.IsOver(nNowUs, nProgressUs)) {
            link.Trace("delivery not seen: " + strHow);
            return EWriteEnd::Held;
        }
        if (IsCancelledNow(nNowUs))
            return EWriteEnd::Cancelled;
        SleepUs(5000);
    }
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
