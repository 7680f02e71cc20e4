#pragma once
// USB serial adapters as a script, put in place of the termios device for every port the program
// opens (SetSerialDeviceFactory) while a CFakeAdapters lives. What a pseudo-terminal cannot show
// is played here: DSR and CTS held low for a while or for good, an output queue that drains at
// the line's pace or slower, settings the driver takes differently from what was asked, a
// hang-up at any call, the driver's serial flags and a USB latency timer. Time is the clock in
// force (GetClock), so the same script runs on a test's clock or, for a benchmark, in real time.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "ports/SerialDevice.h"

class CPortsHome;

constexpr int64_t kNever = std::numeric_limits<int64_t>::max();

struct CFakeAdapterScript {
    // Spans [from, until) in milliseconds of the clock in force while the line is low; a line
    // with no span is raised. {0, kNever}: low for good.
    std::vector<std::pair<int64_t, int64_t>> m_dsrLow;
    std::vector<std::pair<int64_t, int64_t>> m_ctsLow; // the output queue does not drain
    // Bytes a second the output queue sends while CTS is up; 0: the line's own pace.
    int m_nDrainPerSecond = 0;
    int m_nQueueSize = 4096;
    // Changes the settings the driver reports after an Apply (a driver that takes some only).
    std::function<void(CLineSettings&)> m_fnAlter;
    // The driver's serial flags, and the errno it refuses to read or change them with (0: none).
    int m_nSerialFlags = 0;
    int m_nFlagsError = 0;
    // Received bytes reach the reader at the next tick of this many milliseconds, one while the
    // driver is in low-latency mode; 0: at once.
    int m_nLatencyMs = 16;
    // A 16550's receive FIFO (set m_nLatencyMs to 0 for a built-in port): a reply shorter than
    // the trigger level reaches the reader only after four characters of silence. 0: no FIFO;
    // the errno with which rx_trig_bytes refuses a change (EACCES without a udev rule).
    int m_nRxTrigger = 0;
    int m_nRxTriggerError = 0;
    // The machine at the far end: called with each byte once it has left the wire, returns its
    // answer, which comes back at the line's pace.
    std::function<std::vector<uint8_t>(uint8_t)> m_fnMachine;
    // A machine that trickles its answers: this many milliseconds between two of its bytes.
    int m_nAnswerGapMs = 0;
};

// The calls a script can hang up at.
enum class EFakeCall { Open, Apply, Dsr, Write, Queued, Read };

class CFakeAdapter {
public:
    explicit CFakeAdapter(CFakeAdapterScript script) : m_script(std::move(script)) {}

    // Unplugged at the nNth call of this kind from now on (1: the next one), which already
    // fails. With bLinesStillAnswer the line status call goes on reading DSR low, as some drivers
    // do until they have taken the unplugging in, so only the receive side tells.
    void HangUpAt(EFakeCall eCall, int nNth, bool bLinesStillAnswer = false);

    // What the program did, for the test to look at.
    std::vector<uint8_t> GetSent() const;       // bytes that left the wire
    std::vector<int> GetFlagChanges() const;    // every SetSerialFlags
    std::vector<int> GetTriggerChanges() const; // every SetReceiveTrigger that took
    int GetRxTrigger() const;
    int GetSerialFlags() const; // as the driver holds them now
    int GetOpens() const;
    // Purges that came while another thread waited on the device: a race on a real driver.
    int GetPurgesDuringWait() const;
    bool IsOpen() const;
    int64_t GetHangUpMs() const; // when the hang-up came; -1 before

private:
    friend class CFakeSerialDevice;
    using Lock = std::unique_lock<std::mutex>;

    bool Count(Lock&, EFakeCall eCall); // false: hung up (now or before)
    void DoHangUp(Lock&);
    void Update(Lock&, int64_t nNowUs);
    int64_t ByteUs() const;
    static bool IsLow(const std::vector<std::pair<int64_t, int64_t>>& spans, int64_t nMs,
                      int64_t* pUntilMs = nullptr);
    int64_t NextEventUs() const;

    CFakeAdapterScript m_script;
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;

    bool m_bOpen = false;
    bool m_bHungUp = false;
    bool m_bWake = false;
    bool m_bLinesStillAnswer = false;
    EFakeCall m_eHangUpCall = EFakeCall::Open;
    int m_nHangUpAt = -1;
    std::map<EFakeCall, int> m_calls;
    int64_t m_nHangUpMs = -1;
    int m_nOpens = 0;
    int m_nWaiting = 0;
    int m_nPurgesDuringWait = 0;

    CLineSettings m_line;
    std::vector<uint8_t> m_queue; // the driver's output queue
    int64_t m_nDrainedToUs = -1;  // the queue is played up to this moment
    int64_t m_nHeadSentUs = 0;    // wire time the first queued byte has had
    int64_t m_nInputFreeUs = 0;   // when the line towards the program is free again
    std::vector<std::pair<int64_t, uint8_t>> m_incoming; // with the moment each reaches the reader
    std::vector<uint8_t> m_readable;

    std::vector<uint8_t> m_sent;
    std::vector<int> m_flagChanges;
    std::vector<int> m_triggerChanges;
};

// The adapters by device path; the factory is in place while this lives.
class CFakeAdapters {
public:
    CFakeAdapters();
    ~CFakeAdapters();
    CFakeAdapters(const CFakeAdapters&) = delete;
    CFakeAdapters& operator=(const CFakeAdapters&) = delete;

    CFakeAdapter& Add(const std::string& strPath, CFakeAdapterScript script = {});
    // An adapter as COMn of the ports folder.
    CFakeAdapter& AddCom(const CPortsHome& home, int nCom, CFakeAdapterScript script = {});

    std::shared_ptr<CFakeAdapter> Find(const std::string& strPath) const;

private:
    mutable std::mutex m_mutex;
    std::map<std::string, std::shared_ptr<CFakeAdapter>> m_adapters;
};

// A machine that answers every "F;" with strReply.
std::function<std::vector<uint8_t>(uint8_t)> AnswerQuery(std::string strReply);
