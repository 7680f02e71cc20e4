#pragma once
// What the files of CSerialPort share: the open port's state, its buffer's size and the limits
// of a held write, and the port's readings of the clock.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "ports/SerialDevice.h"
#include "serial/SerialPort.h"
#include "serial/WireTrace.h"

constexpr int kBufferSize = 16384;
constexpr int kPiece = 256;

// How often a write held off by a low DSR looks at the line again.
constexpr int kDsrPollMs = 10;
// An output queue that has not moved for this long is held by the far end, not merely slow.
constexpr int64_t kHoldUs = 50000;
// A write with no byte leaving for this long counts as held; while held, the cancel check is
// asked this often, which keeps a Cancel well within a second.
constexpr int kHeldPollMs = 250;

int64_t NowUs();
void SleepUs(int64_t nMicroseconds);

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

    // The last write that handed bytes to the driver did not see them leave (held past its
    // limit, cancelled, the device gone): Close throws them away rather than let them trickle
    // out after the caller has given up on them.
    bool bOutputAbandoned = false;

    IWireTrace* pTrace = nullptr;
    int64_t nHoldStartUs = -1; // a flow-control hold the trace has told of and not yet ended
    // DSR as last read, for the trace to tell each change wherever it was read: inside a write,
    // while the caller polls for a byte, at open and at close.
    bool bDsrKnown = false;
    ISerialDevice::ELine eDsr = ISerialDevice::ELine::On;

    void Trace(std::string strText) {
        if (pTrace)
            pTrace->TraceEvent(NowUs(), std::move(strText));
    }
    // A DSR that is low when the port opens is told; a raised one only once it changes.
    void NoteDsr(ISerialDevice::ELine eLine) {
        if (eLine == ISerialDevice::ELine::Gone || (bDsrKnown && eLine == eDsr))
            return;
        const bool bFirst = !bDsrKnown;
        bDsrKnown = true;
        eDsr = eLine;
        if (bFirst && eLine == ISerialDevice::ELine::On)
            return;
        Trace(eLine == ISerialDevice::ELine::On ? "DSR raised"
                                                : (bFirst ? "DSR low at open" : "DSR dropped"));
    }
    // Reads DSR for the trace where the line matters (DSR output flow control).
    void WatchDsr() {
        if (pTrace && bDsrFlow && pDevice->IsOpen())
            NoteDsr(pDevice->GetDsr());
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
