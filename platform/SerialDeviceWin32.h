#pragma once
// The serial device on Windows: a COM port opened overlapped, so that a wait for arriving bytes
// (WaitCommEvent) and the event that ends it from another thread can be waited on together.
// Reads never wait (timeouts MAXDWORD/0/0). Win32 errors come back as the errno values whose
// causes the texts already name: access denied is a port in use, a missing name an absent port.
#include <memory>

#include "platform/SerialDevice.h"

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

private:
    struct CState;
    std::unique_ptr<CState> m_pState;
};
