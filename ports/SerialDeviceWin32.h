#pragma once
// The serial device on Windows: a COM port opened overlapped, so that a wait for arriving bytes
// and the event that ends it from another thread can be waited on together.
//
// The wait for a byte is a one-byte ReadFile left pending, not WaitCommEvent: wine completes a
// WaitCommEvent at once on a pseudo-terminal, while both wine and Windows wake a pending read the
// moment a byte arrives. The read time-outs are MAXDWORD/MAXDWORD/1000: a read returns at once
// with what the driver holds and, when it holds nothing, waits up to a second for the first
// byte, after which WaitEvent issues the next. ReadAvailable asks only for the bytes the driver
// already holds, so it never waits; the byte the wait's read took is handed out first.
//
// Wake ends a WaitEvent at once; the pending read outlives it and the next WaitEvent takes it up.
// Close ends a pending read (cancelled, then waited for) before the handle goes. Purge, Close and
// Open are for the thread that owns the device while no WaitEvent or ReadAvailable runs on
// another: the serial link purges before its receive thread starts and after it has ended.
//
// Win32 errors come back as the errno values whose causes the texts already name: access denied
// is a port in use, a missing name an absent port.
#include <memory>

#include "ports/SerialDevice.h"

class CWinSerialDevice : public ISerialDevice {
public:
    CWinSerialDevice();
    ~CWinSerialDevice() override;
    CWinSerialDevice(const CWinSerialDevice&) = delete;
    CWinSerialDevice& operator=(const CWinSerialDevice&) = delete;

    // strPath is a device name such as \\.\COM1.
    int Open(const std::string& strPath) override;
    void Close() override;
    bool IsOpen() const override;

    int Apply(const CLineSettings& settings, CLineSettings& applied) override;

    void SetDtr(bool bOn) override;
    ELine GetDsr() override;
    void Purge(EQueue eQueues) override;

    EEvent WaitEvent() override;
    void Wake() override;
    void ClearWake() override;

    ssize_t ReadAvailable(void* pDest, size_t nMax) override;
    ssize_t WriteSome(const void* pData, size_t nCount, int nWaitMs) override;
    int OutputQueued() override;

    // Windows keeps a USB adapter's latency timer in its driver's settings, not per open.
    int GetSerialFlags(int& nFlags) override;
    int SetSerialFlags(int nFlags) override;
    int GetReceiveTrigger(int& nBytes) override;
    int SetReceiveTrigger(int nBytes) override;

    // Whether the wait's one-byte read is outstanding; any thread may ask.
    bool HasPendingWait() const;

private:
    struct CState;
    std::unique_ptr<CState> m_pState;
};
