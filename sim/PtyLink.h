#pragma once
// The cable to the simulated machine: a pseudo-terminal pair whose program side is linked into a
// ports folder as "comN", so the program opens it as "COMN:". The simulator holds the master side:
// it reads there the line settings the program set, receives and records the program's bytes and
// answers, paced at the program's baud when asked to be.
#include <termios.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

class CPtyLink {
public:
    CPtyLink() = default;
    ~CPtyLink();
    CPtyLink(const CPtyLink&) = delete;
    CPtyLink& operator=(const CPtyLink&) = delete;

    // Opens the pair and links the program's side as strPortsDir/comN (the folder is created).
    bool Open(const std::string& strPortsDir, int nCom);
    // Hangs up: closes the master side and removes the link.
    void Close();
    bool IsOpen() const;
    // Bytes the program wrote that the machine has not read yet; 0 once the machine has hung up.
    // Safe from any thread, while the machine may be closing the line.
    int CountUnread() const;
    const std::string& GetDevicePath() const; // the program's side, e.g. /dev/pts/7

    // The line settings the program set on its side, read back through the master.
    struct termios GetSettings() const;
    uint32_t GetBaud() const; // from GetSettings(), as a number (9600, 38400, ...)
    // How long one byte takes on the wire at those settings (start, data, parity and stop bits);
    // a speed that names no rate counts as 1 baud.
    std::chrono::nanoseconds GetByteTime() const;
    // True while the line has the settings it was opened with: no program has set it yet, or
    // the last one closed the port and so put back what it had found there. A program always
    // sets the line before it talks (its settings carry CLOCAL, the resting line's do not).
    bool IsAtRest() const;

    // Waits up to nMilliseconds for bytes from the program and returns what arrived (possibly
    // nothing). Everything received is also appended to the record.
    std::vector<uint8_t> Receive(int nMilliseconds);
    // Sends bytes to the program; paced at GetByteTime() a byte when pacing is on.
    bool Send(const void* pData, size_t nCount);
    bool Send(uint8_t nByte) { return Send(&nByte, 1); }
    void SetPaced(bool bPaced);
    // Stops or restarts the output of the program's side, as a low or raised CTS would: a
    // pseudo-terminal has no CTS line. Works through the simulator's own descriptor on that side,
    // so it holds even when the program has opened the port exclusively as another user.
    bool HoldOutput(bool bHold);
    // The machine's own pause (a hold of the line) of up to nMilliseconds; Interrupt ends it at
    // once, and every later one, until the next Open: a machine told to stop does not first sit
    // out a hold of many seconds.
    void Pause(int nMilliseconds);
    void Interrupt();

    // Everything received from the program since Open (or since ClearRecord).
    std::vector<uint8_t> GetRecord() const;
    void ClearRecord();

    int GetMasterFd() const;

private:
    // Written only under m_fdMutex, so another thread can look at the line while the machine's
    // thread hangs it up.
    mutable std::mutex m_fdMutex;
    int m_nMasterFd = -1;
    // The simulator keeps the program's side open too, so the line settings survive the
    // program's Close (the kernel resets them when the last user of the device closes it) and
    // the master does not see a hang-up between two opens of the program.
    int m_nSlaveFd = -1;
    struct termios m_rest {}; // the settings the line was opened with
    std::string m_strDevicePath;
    std::string m_strLinkPath;
    std::atomic<bool> m_bPaced{false};
    std::mutex m_pauseMutex;
    std::condition_variable m_pauseEnd;
    bool m_bInterrupted = false;
    mutable std::mutex m_mutex; // the record
    std::vector<uint8_t> m_record;
};
