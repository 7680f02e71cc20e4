#pragma once
// A serial device seen the way the serial link needs it: opened for one user only, line settings
// applied and checked, modem lines, a wait for arriving bytes that another thread can end at any
// moment, reads that never wait, and writes that know when their bytes are on the line. Linux
// has the termios device below, Windows the one in SerialDeviceWin32.h. Pseudo-terminals work
// too: they keep every setting but have no modem lines, which then count as asserted.
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
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
    // The same line: XON and XOFF characters count only while XON/XOFF is on.
    bool IsSameLine(const CLineSettings& other) const;
};

#ifndef _WIN32
// What a termios record sets, read the other way round from CSerialDevice::Apply; the simulator
// reads the program's settings this way through its side of a pseudo-terminal. A speed that is
// not one of the rates Apply can set reads as baud 0.
CLineSettings LineSettingsOf(const struct termios& tio);
#endif

// What the serial link asks of a device. The termios device below is the one the program uses;
// tests put a scripted one in its place (SetSerialDeviceFactory) to play what a pseudo-terminal
// cannot: modem lines, an output queue that sticks, a USB adapter's latency timer, an unplugging.
class ISerialDevice {
public:
    virtual ~ISerialDevice() = default;

    // 0, or the errno why the device cannot be had (ENOENT absent, EBUSY in use, EACCES ...).
    virtual int Open(const std::string& strPath) = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;

    // Sets the line; 0, or the errno. applied gets what the driver holds afterwards, since
    // tcsetattr succeeds when any one of the settings took.
    virtual int Apply(const CLineSettings& settings, CLineSettings& applied) = 0;

    virtual void SetDtr(bool bOn) = 0;
    enum class ELine { On, Off, Gone };
    // DSR as the device reports it; a device without modem lines counts as asserted, one that
    // went away (the line status call fails with EIO) as Gone.
    virtual ELine GetDsr() = 0;
    enum class EQueue { Input = 1, Output = 2, Both = 3 };
    // Empties the driver's receive queue, its transmit queue, or both.
    virtual void Purge(EQueue eQueues) = 0;

    enum class EEvent { Data, Woken, Dead };
    // Waits without limit until bytes arrive, Wake() is called or the device goes away.
    virtual EEvent WaitEvent() = 0;
    // Ends a WaitEvent in progress, or the next one if none is in progress.
    virtual void Wake() = 0;
    virtual void ClearWake() = 0;

    // Bytes that are already waiting, at most nMax: the count, 0 when none, -1 when the device
    // has gone away.
    virtual ssize_t ReadAvailable(void* pDest, size_t nMax) = 0;
    // Hands as many bytes to the driver as it takes within nWaitMs: the count, -1 when the
    // device has gone away.
    virtual ssize_t WriteSome(const void* pData, size_t nCount, int nWaitMs) = 0;
    // Bytes still in the driver's output queue, -1 when the device has gone away.
    virtual int OutputQueued() = 0;

    // Whether the bytes the output queue no longer counts have reached the line: a device server
    // takes them into a buffer of its own, and ends by throwing away what it still holds when
    // the connection ends. Asked over and over by the port's close once the queue is empty,
    // until the answer is neither Pending (the line is still busy with them) nor Held (nothing
    // moves: the far end holds the line). strHow says how it was judged, for the wire trace.
    // A local driver's queue is the whole story: OnLine.
    enum class EDelivery { OnLine, Pending, Held, Unknown, Gone };
    virtual EDelivery CheckDelivery(std::string& strHow) {
        strHow.clear();
        return EDelivery::OnLine;
    }

    // The last failure (of Open, Apply, or the device going away) in the device's own words,
    // where its errno alone would mislead: a host not found, a server that closed the
    // connection. Empty for the devices whose errno says it all.
    virtual std::string GetCauseText() const { return {}; }
    // What the device found out that a wire trace should tell (a server without modem lines);
    // each note once.
    virtual std::string TakeTraceNote() { return {}; }

    // The driver's serial flags (ASYNC_* of linux/serial.h): 0, or the errno of a driver that
    // has none or will not change them.
    virtual int GetSerialFlags(int& nFlags) = 0;
    virtual int SetSerialFlags(int nFlags) = 0;

    // The receive FIFO's trigger level in bytes (a 16550's rx_trig_bytes): 0, or the errno of a
    // device that has none (ENOENT) or will not let this user change it (EACCES).
    virtual int GetReceiveTrigger(int& nBytes) = 0;
    virtual int SetReceiveTrigger(int nBytes) = 0;

    // Asks the driver to hand received bytes on at once rather than when a USB adapter's
    // latency timer runs out. Granted: the driver changed, and RestoreLatency(nOld) puts it back
    // as it was. A driver that has no such mode, or refuses, changes nothing.
    enum class ELowLatency { Refused, AlreadyOn, Granted };
    virtual ELowLatency AskLowLatency(int& nOld);
    virtual void RestoreLatency(int nOld) { SetSerialFlags(nOld); }
    // ASYNC_LOW_LATENCY: the flag above, for the devices that keep Linux's serial flags.
    static constexpr int kLowLatencyFlag = 0x2000;
};

#ifndef _WIN32

// The termios device.
class CSerialDevice : public ISerialDevice {
public:
    // strSysRoot: where sysfs is, so that tests can build their own.
    explicit CSerialDevice(std::string strSysRoot = "/sys");
    ~CSerialDevice() override;
    CSerialDevice(const CSerialDevice&) = delete;
    CSerialDevice& operator=(const CSerialDevice&) = delete;

    int Open(const std::string& strPath) override;
    void Close() override;
    bool IsOpen() const override { return m_nFd >= 0; }
    int GetFd() const { return m_nFd; }

    int Apply(const CLineSettings& settings, CLineSettings& applied) override;
    static bool IsSupportedBaud(uint32_t nBaud);

    void SetDtr(bool bOn) override;
    ELine GetDsr() override;
    void Purge(EQueue eQueues) override;

    EEvent WaitEvent() override;
    void Wake() override;
    void ClearWake() override;

    ssize_t ReadAvailable(void* pDest, size_t nMax) override;
    ssize_t WriteSome(const void* pData, size_t nCount, int nWaitMs) override;
    int OutputQueued() override;

    int GetSerialFlags(int& nFlags) override;
    int SetSerialFlags(int nFlags) override;

    int GetReceiveTrigger(int& nBytes) override;
    int SetReceiveTrigger(int nBytes) override;

private:
    std::string m_strSysRoot;
    std::string m_strTriggerPath; // the open device's rx_trig_bytes
    int m_nFd = -1;
    int m_nWakeFd = -1;
    // The settings the device had before Open, put back at Close for the next program.
    std::unique_ptr<struct termios> m_pSaved;
};

#endif

// The operating system's own device: termios on Linux, Win32 on Windows.
std::unique_ptr<ISerialDevice> MakeSystemSerialDevice();
// Makes the device every new serial port uses.
using SerialDeviceFactory = std::function<std::unique_ptr<ISerialDevice>()>;
std::unique_ptr<ISerialDevice> MakeSerialDevice();
// The device that opens strDevice: the network device for rfc2217://host:port, otherwise
// MakeSerialDevice's. nNetworkOpenLimitMs above 0 bounds a network device's connect, and again its
// negotiation and settings' answers, to that many milliseconds each.
std::unique_ptr<ISerialDevice> MakeSerialDeviceFor(const std::string& strDevice,
                                                   int nNetworkOpenLimitMs = 0);
bool IsNetworkDevice(const ISerialDevice& device);
// An empty factory puts the system's device back. Set it before any port is constructed.
void SetSerialDeviceFactory(SerialDeviceFactory fnFactory);
