#pragma once
// A record of everything that crossed one port, for whoever supports a failed upgrade: every byte
// sent and received with its time, the port's own events (open, hold, DSR, purge, close, hang-up)
// and the steps and outcome of the operation that used it. The port reports from the protocol
// thread and from its receive thread; nothing here touches a file until the run is over.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// What a CSerialPort reports to. nUs is the clock in force (GetClock) at the event.
class IWireTrace {
public:
    virtual ~IWireTrace() = default;
    virtual void TraceBytes(int64_t nUs, bool bSent, const uint8_t* pBytes, size_t nCount) = 0;
    // A port or operation event in words, one line.
    virtual void TraceEvent(int64_t nUs, std::string strText) = 0;

    // "step loader: 3064 bytes"
    void TraceStep(const std::string& strName, const std::string& strDetail = {});
    // "outcome: completed"
    void TraceOutcome(const std::string& strText);
};

// The trace kept in memory and turned into text at the end: one line an event, the time in
// seconds since the first event (the port's open), "> " sent and "< " received, up to 16
// consecutive bytes of one direction a line in hex with the printable ones beside them.
class CWireTrace : public IWireTrace {
public:
    void TraceBytes(int64_t nUs, bool bSent, const uint8_t* pBytes, size_t nCount) override;
    void TraceEvent(int64_t nUs, std::string strText) override;

    bool IsEmpty() const;
    std::string Format() const;
    // 0, or the errno why the file could not be written. Makes the folders missing on the way;
    // never overwrites a file.
    int WriteFile(const std::string& strPath) const;

private:
    struct CRecord {
        int64_t m_nUs;
        char m_cKind; // '>' sent, '<' received, ' ' an event
        std::string m_strData;
    };
    mutable std::mutex m_mutex;
    std::vector<CRecord> m_records;
};

// The trace of a window, which reads no command line: kept when the program was started with
// VERSIONUP_TRACE naming a folder (support asks the operator to), written there at the end.
class CWindowTrace {
public:
    CWindowTrace();
    // Null when no trace was asked for.
    IWireTrace* Get() const;
    // Writes what was recorded to DIR/PORT-START.trace for the port the runs used: "" when that
    // went well or there was nothing to write, else "PATH: the cause" for the operator.
    std::string Save(const std::string& strPort) const;

private:
    std::unique_ptr<CWireTrace> m_pTrace;
    std::string m_strDir;
    int64_t m_nStart = 0;
};

// "DIR/COM1-20261210T193900.trace" for a trace of strPort ("COM1:" or "COM1") started at
// nUnixSeconds, local time.
std::string TraceFilePath(const std::string& strDir, const std::string& strPort,
                          int64_t nUnixSeconds);

// What one line of a trace says about bytes, read back: the tests hold a trace against what the
// machine saw. False for a line that is not a bytes line.
bool ParseTraceBytes(const std::string& strLine, bool& bSent, std::vector<uint8_t>& bytes);
