#pragma once
// One RS-232 port: open by name ("COM1:".."COM4:" or a device path) with a baud rate and a mode
// string, bounded writes, and a receive thread that fills a buffer from which bytes are taken
// without waiting. The device check and the transfer speak to the machine through it alone.
// An open port holds its device for itself (on Linux a lock and the driver's exclusive mode, on
// Windows the system's own exclusive open), so a second opening of the same device fails, from
// this process or another; objects on different devices work side by side.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class IWireTrace;

// The line settings Open applies, as the baud rate and mode string give them. The fields carry
// the names of the Win32 DCB's, whose meaning they keep on both systems.
struct CPortSettings {
    uint32_t BaudRate = 9600;
    uint8_t ByteSize = 8;
    uint8_t Parity = 0;   // 0 none, 1 odd, 2 even, 3 mark
    uint8_t StopBits = 0; // 0 one, 2 two
    uint16_t XonLim = 100;
    uint16_t XoffLim = 100;
    char XonChar = 17;
    char XoffChar = 19;
    unsigned fOutxCtsFlow : 1 = 1;
    unsigned fOutxDsrFlow : 1 = 1;
    unsigned fDtrControl : 2 = 2; // 1 enable, 2 handshake
    unsigned fRtsControl : 2 = 2; // 2 handshake
    unsigned fOutX : 1 = 0;
    unsigned fInX : 1 = 0;
};

// The time-outs a baud rate sets (the Win32 COMMTIMEOUTS' names); the write limits come from them.
struct CPortTimeouts {
    uint32_t ReadIntervalTimeout = 0;
    uint32_t ReadTotalTimeoutMultiplier = 0;
    uint32_t ReadTotalTimeoutConstant = 0;
    uint32_t WriteTotalTimeoutMultiplier = 0;
    uint32_t WriteTotalTimeoutConstant = 0;
};

// Why the last Open failed, for a person to read.
struct CPortError {
    int m_nErrno = 0;        // 0 when the failure was not the OS's (bad mode string)
    std::string m_strDevice; // the device the port name mapped to; empty when it maps to none
    // The settings the driver would not take, as asked and as it holds them ("9600 bps -> 4800
    // bps, RTS/CTS on -> off"); empty unless the settings read back different.
    std::string m_strRefused{};
    // The device's own words where the errno alone would mislead (a host not found, a server
    // that did not answer a setting); empty otherwise.
    std::string m_strCause{};
};

// How the last write ended.
enum class EWriteEnd {
    Done,
    Held,      // the peer's flow control let no byte leave for the stall limit, or past a deadline
    Cancelled, // the cancel check said so while the write was held
    Dead,      // the device went away
    Refused,   // not open, or nothing to write
    // The close handed every byte to a device server, which tells nothing of its line: whether
    // the machine has them all cannot be known from here.
    Unconfirmed,
};

class CSerialPort {
public:
    CSerialPort();
    virtual ~CSerialPort();
    CSerialPort(const CSerialPort&) = delete;
    CSerialPort& operator=(const CSerialPort&) = delete;

    // 1 when the port is open and the receive thread runs, else 0 (see GetOpenError).
    int Open(const char* pszPort, uint32_t nBaud, const char* pszMode);
    void Close();

    // 1 when every byte was written, else 0.
    int Write(const void* pData, uint32_t nCount);
    int WriteString(const char* pszText);
    int WriteByte(int nValue); // low 8 bits
    int WriteBlock(const void* pData, uint32_t nCount);

    // The next received byte 0..255, or -1 at once when none is waiting. Never waits.
    int ReadByte();
    // Takes up to nMax waiting bytes, stopping at the first empty poll; the count taken.
    int ReadBytes(void* pDest, int nMax);

    // Beyond the original link: waits until a byte is waiting or nMilliseconds have passed, so
    // polling loops need not spin a core. 1 when a byte is waiting, else 0. Returns at once
    // when the port is not open or has died.
    int WaitForByte(int nMilliseconds);
    // True once the device has gone away (peer hung up, adapter unplugged) since the last Open.
    bool IsDead() const;
    // Why the device went away, where it can tell ("the server closed the connection"); empty
    // when it cannot or has not.
    std::string GetDeadCause() const;
    const CPortError& GetOpenError() const;

    // How long a write may go without any byte leaving before it gives up (60 s unless changed):
    // a loader that erases its flash holds the line that long, and the device stays present.
    void SetStallLimit(int nMilliseconds);
    // Asked while a write is held (no byte has left for a moment), a few times a second: true
    // ends the write at once, so a Cancel need not wait for the stall limit. Empty: never asked.
    // Kept across Open and Close.
    void SetCancelCheck(std::function<bool()> fnCancelled);
    // How the last write ended. Close first waits for what a completed write handed over to
    // leave the driver, and on a device server for the server to have put it on its line (with
    // the write's stall limit and cancel check); when that wait fails, this tells how, and Close
    // has thrown those bytes away. Unconfirmed: a server took them all and cannot tell more.
    EWriteEnd GetWriteEnd() const { return m_eWriteEnd; }
    // With bLimit, a write also gives up once the time-out settings' limit for its byte count
    // has passed (1,004 ms for "F;" at 9600), held-off lines or not: for a short query, where a
    // line held low means a machine switched off or a cable loose, not a pause in a transfer.
    // Kept across Open and Close.
    void LimitWritesToTimeouts(bool bLimit);
    // Where the port reports what crosses it (nullptr: nowhere). The trace must outlive the
    // port's next Close. Kept across Open and Close.
    void SetTrace(IWireTrace* pTrace);
    // With bLower, Open sets a 16550's receive FIFO to interrupt at every byte when this user
    // may, and Close puts the old level back: an exchange of single bytes otherwise waits for
    // the FIFO's time-out of four characters on every reply. Kept across Open and Close.
    void LowerReceiveTrigger(bool bLower);
    // With nMilliseconds above 0, a port on a device server gets that long to connect and as long
    // again to agree on the options and the settings, instead of the seconds a distant server is
    // given: a search over many ports must not wait on one server that does not answer. Kept
    // across Open and Close.
    void LimitNetworkOpen(int nMilliseconds);

    CPortSettings m_settings;
    CPortTimeouts m_timeouts;

private:
    struct CLinkState;
    friend class CSerialPortProbe; // tests look at the buffer's fill

    // Bytes stored and not yet taken.
    int CountStored() const;

    int ParseMode(const char* pszMode);
    void SetTimeoutsForBaud(uint32_t nBaud);
    int ApplySettings();
    int PassLimitMs(uint32_t nCount) const;

    // What ends a write: no byte leaving for the stall limit, or the deadline passed.
    struct CWriteLimits {
        int64_t m_nStallUs = 0;
        int64_t m_nDeadlineUs = INT64_MAX;
        bool IsOver(int64_t nNowUs, int64_t nProgressUs) const;
        int LeftMs(int64_t nNowUs, int64_t nProgressUs) const;
    };
    EWriteEnd Drain(int64_t nStartUs, uint32_t nCount, const CWriteLimits& limits);
    EWriteEnd AwaitDelivery(const CWriteLimits& limits);
    bool IsCancelledWhileHeld(int64_t nNowUs, int64_t nProgressUs);
    bool IsCancelledNow(int64_t nNowUs);
    static const char* AskLowLatency(CLinkState& link);
    static void AskReceiveTrigger(CLinkState& link);
    void TraceOpen(const char* pszPort, const char* pszMode, const char* pszLowLatency);
    static void ReleaseDevice(CLinkState& link);
    static void ReceiveThreadProc(CLinkState* pLink);
    static bool WaitForRoom(CLinkState* pLink);
    static void MarkDead(CLinkState* pLink);

    std::unique_ptr<CLinkState> m_pLink;
    CPortError m_error;
    // Set while a Write runs: a second writer waits for it (and gives up after a second).
    std::atomic<bool> m_bWriting{false};
    int m_nStallLimitMs = 60000;
    bool m_bPassLimit = false;
    bool m_bLowerTrigger = false;
    int m_nNetworkOpenLimitMs = 0;
    std::function<bool()> m_fnCancelled;
    int64_t m_nCancelAskedUs = 0;
    EWriteEnd m_eWriteEnd = EWriteEnd::Done;
};
