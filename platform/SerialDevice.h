#pragma once
// A serial device under Linux, seen the way the serial link needs it: opened for one user only,
// line settings applied and checked, modem lines, a wait for arriving bytes that another thread
// can end at any moment, reads that never wait, and writes that know when their bytes are on the
// line. Pseudo-terminals work too: they keep every setting but have no modem lines, which then
// count as asserted.
#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

struct termios;

struct CLineSettings {
    uint32_t m_nBaud = 9600;
    int m_nDataBits = 8; // 7 or 8
    int m_nParity = 0;   // 0 none, 1 odd, 2 even, 3 mark
    int m_nStopBits = 1; // 1 or 2
    bool m_bCtsFlow = false;
    bool m_bXonXoff = false;
    char m_cXon = 17;
    char m_cXoff = 19;

    // Bits one byte takes on the wire: start, data, parity, stop.
    int BitsPerByte() const { return 1 + m_nDataBits + (m_nParity ? 1 : 0) + m_nStopBits; }
};

// What a termios record sets, read the other way round from CSerialDevice::Apply; the simulator
// reads the program's settings this way through its side of a pseudo-terminal. A speed that is
// not one of the rates Apply can set reads as baud 0.
CLineSettings LineSettingsOf(const struct termios& tio);

class CSerialDevice {
public:
    CSerialDevice();
    ~CSerialDevice();
    CSerialDevice(const CSerialDevice&) = delete;
    CSerialDevice& operator=(const CSerialDevice&) = delete;

    // 0, or the errno why the device cannot be had (ENOENT absent, EBUSY in use, EACCES ...).
    int Open(const std::string& strPath);
    void Close();
    bool IsOpen() const { return m_nFd >= 0; }
    int GetFd() const { return m_nFd; }

    // 0, or the errno; the settings are read back, since tcsetattr succeeds when any of them took.
    int Apply(const CLineSettings& settings);
    static bool IsSupportedBaud(uint32_t nBaud);

    void SetDtr(bool bOn);
    // DSR as the device reports it; a device without modem lines counts as asserted.
    bool IsDsrOn();
    // Both driver queues emptied.
    void Purge();

    enum class EEvent { Data, Woken, Dead };
    // Waits without limit until bytes arrive, Wake() is called or the device goes away.
    EEvent WaitEvent();
    // Ends a WaitEvent in progress, or the next one if none is in progress.
    void Wake();
    void ClearWake();

    // Bytes that are already waiting, at most nMax: the count, 0 when none, -1 when the device
    // has gone away.
    ssize_t ReadAvailable(void* pDest, size_t nMax);
    // Hands as many bytes to the driver as it takes within nWaitMs: the count, -1 when the device
    // has gone away.
    ssize_t WriteSome(const void* pData, size_t nCount, int nWaitMs);
    // Bytes still in the driver's output queue, -1 when the device has gone away.
    int OutputQueued();

private:
    int m_nFd = -1;
    int m_nWakeFd = -1;
};
