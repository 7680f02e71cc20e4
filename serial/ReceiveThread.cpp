#include "serial/SerialPort.h"

#include <algorithm>
#include <cstring>

#include "platform/Clock.h"
#include "serial/LinkState.h"

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
    if (link.bRunning && !link.bDead)
        link.WatchDsr();
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

std::string CSerialPort::GetDeadCause() const {
    return m_pLink->bDead ? m_pLink->pDevice->GetCauseText() : std::string();
}
