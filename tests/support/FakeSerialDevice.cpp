#include "tests/support/FakeSerialDevice.h"

#include <linux/serial.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/Clock.h"
#include "ports/PortMap.h"
#include "tests/support/TempDir.h"

namespace {

int64_t NowUs() {
    return GetClock().GetMicroseconds();
}

} // namespace

// The program's handle on one adapter, between its Open and its Close.
class CFakeSerialDevice : public ISerialDevice {
public:
    explicit CFakeSerialDevice(const CFakeAdapters& adapters) : m_adapters(adapters) {}
    ~CFakeSerialDevice() override { Close(); }

    int Open(const std::string& strPath) override {
        std::shared_ptr<CFakeAdapter> pAdapter = m_adapters.Find(strPath);
        if (!pAdapter)
            return ENOENT;
        CFakeAdapter::Lock lock(pAdapter->m_mutex);
        if (!pAdapter->Count(lock, EFakeCall::Open))
            return ENOENT;
        if (pAdapter->m_bOpen)
            return EBUSY;
        pAdapter->m_bOpen = true;
        pAdapter->m_bWake = false;
        ++pAdapter->m_nOpens;
        m_pAdapter = std::move(pAdapter);
        return 0;
    }

    void Close() override {
        if (!m_pAdapter)
            return;
        {
            CFakeAdapter::Lock lock(m_pAdapter->m_mutex);
            m_pAdapter->m_bOpen = false;
        }
        m_pAdapter.reset();
    }

    bool IsOpen() const override { return m_pAdapter != nullptr; }

    int Apply(const CLineSettings& settings, CLineSettings& applied) override {
        CFakeAdapter& a = *m_pAdapter;
        CFakeAdapter::Lock lock(a.m_mutex);
        if (!a.Count(lock, EFakeCall::Apply))
            return EIO;
        a.m_line = settings;
        applied = settings;
        if (a.m_script.m_fnAlter)
            a.m_script.m_fnAlter(applied);
        return 0;
    }

    void SetDtr(bool) override {}

    ELine GetDsr() override {
        CFakeAdapter& a = *m_pAdapter;
        CFakeAdapter::Lock lock(a.m_mutex);
        if (!a.Count(lock, EFakeCall::Dsr))
            return a.m_bLinesStillAnswer ? ELine::Off : ELine::Gone;
        return CFakeAdapter::IsLow(a.m_script.m_dsrLow, NowUs() / 1000) ? ELine::Off : ELine::On;
    }

    void Purge(EQueue eQueues) override {
        CFakeAdapter& a = *m_pAdapter;
        CFakeAdapter::Lock lock(a.m_mutex);
        if (a.m_nWaiting > 0)
            ++a.m_nPurgesDuringWait;
        if (eQueues == EQueue::Output || eQueues == EQueue::Both) {
            a.m_queue.clear();
            a.m_nHeadSentUs = 0;
        }
        if (eQueues == EQueue::Input || eQueues == EQueue::Both) {
            a.m_incoming.clear();
            a.m_readable.clear();
        }
    }

    EEvent WaitEvent() override {
        CFakeAdapter& a = *m_pAdapter;
        CFakeAdapter::Lock lock(a.m_mutex);
        ++a.m_nWaiting;
        // Counted down under the lock on every way out.
        struct CLeave {
            int& m_nWaiting;
            ~CLeave() { --m_nWaiting; }
        } leave{a.m_nWaiting};
        for (;;) {
            if (a.m_bWake)
                return EEvent::Woken;
            if (a.m_bHungUp)
                return EEvent::Dead;
            const int64_t nNowUs = NowUs();
            a.Update(lock, nNowUs);
            if (!a.m_readable.empty())
                return EEvent::Data;
            // The clock in force may be a test's, which moves when the program waits: look
            // again at least every millisecond instead of trusting a wait to its end.
            const int64_t nNextUs = a.NextEventUs();
            if (nNextUs == kNever)
                a.m_cv.wait(lock);
            else
                a.m_cv.wait_for(lock, std::chrono::microseconds(
                                          std::clamp<int64_t>(nNextUs - nNowUs, 1, 1000)));
        }
    }

    void Wake() override {
        CFakeAdapter& a = *m_pAdapter;
        {
            CFakeAdapter::Lock lock(a.m_mutex);
            a.m_bWake = true;
        }
        a.m_cv.notify_all();
    }

    void ClearWake() override {
        CFakeAdapter::Lock lock(m_pAdapter->m_mutex);
        m_pAdapter->m_bWake = false;
    }

    ssize_t ReadAvailable(void* pDest, size_t nMax) override {
        CFakeAdapter& a = *m_pAdapter;
        CFakeAdapter::Lock lock(a.m_mutex);
        if (!a.Count(lock, EFakeCall::Read))
            return -1;
        a.Update(lock, NowUs());
        const size_t nTake = std::min(nMax, a.m_readable.size());
        std::memcpy(pDest, a.m_readable.data(), nTake);
        a.m_readable.erase(a.m_readable.begin(), a.m_readable.begin() + nTake);
        return static_cast<ssize_t>(nTake);
    }

    ssize_t WriteSome(const void* pData, size_t nCount, int nWaitMs) override {
        CFakeAdapter& a = *m_pAdapter;
        CFakeAdapter::Lock lock(a.m_mutex);
        if (!a.Count(lock, EFakeCall::Write))
            return -1;
        a.Update(lock, NowUs());
        // A full queue is waited on like the driver's poll: on the clock in force.
        for (int nWaited = 0;
             a.m_queue.size() >= static_cast<size_t>(a.m_script.m_nQueueSize) && nWaited < nWaitMs;
             ++nWaited) {
            lock.unlock();
            GetClock().SleepMicroseconds(1000);
            lock.lock();
            if (a.m_bHungUp)
                return -1;
            a.Update(lock, NowUs());
        }
        const size_t nRoom =
            a.m_script.m_nQueueSize - std::min<size_t>(a.m_queue.size(), a.m_script.m_nQueueSize);
        const size_t nTake = std::min(nRoom, nCount);
        const auto* pBytes = static_cast<const uint8_t*>(pData);
        a.m_queue.insert(a.m_queue.end(), pBytes, pBytes + nTake);
        lock.unlock();
        a.m_cv.notify_all();
        return static_cast<ssize_t>(nTake);
    }

    int OutputQueued() override {
        CFakeAdapter& a = *m_pAdapter;
        CFakeAdapter::Lock lock(a.m_mutex);
        if (!a.Count(lock, EFakeCall::Queued))
            return -1;
        a.Update(lock, NowUs());
        return static_cast<int>(a.m_queue.size());
    }

    int GetSerialFlags(int& nFlags) override {
        CFakeAdapter::Lock lock(m_pAdapter->m_mutex);
        if (m_pAdapter->m_script.m_nFlagsError)
            return m_pAdapter->m_script.m_nFlagsError;
        nFlags = m_pAdapter->m_script.m_nSerialFlags;
        return 0;
    }

    int SetSerialFlags(int nFlags) override {
        CFakeAdapter::Lock lock(m_pAdapter->m_mutex);
        if (m_pAdapter->m_script.m_nFlagsError)
            return m_pAdapter->m_script.m_nFlagsError;
        m_pAdapter->m_script.m_nSerialFlags = nFlags;
        m_pAdapter->m_flagChanges.push_back(nFlags);
        return 0;
    }

    int GetReceiveTrigger(int& nBytes) override {
        CFakeAdapter::Lock lock(m_pAdapter->m_mutex);
        if (m_pAdapter->m_script.m_nRxTrigger == 0)
            return ENOENT;
        nBytes = m_pAdapter->m_script.m_nRxTrigger;
        return 0;
    }

    int SetReceiveTrigger(int nBytes) override {
        CFakeAdapter::Lock lock(m_pAdapter->m_mutex);
        if (m_pAdapter->m_script.m_nRxTrigger == 0)
            return ENOENT;
        if (m_pAdapter->m_script.m_nRxTriggerError)
            return m_pAdapter->m_script.m_nRxTriggerError;
        m_pAdapter->m_script.m_nRxTrigger = nBytes;
        m_pAdapter->m_triggerChanges.push_back(nBytes);
        return 0;
    }

private:
    const CFakeAdapters& m_adapters;
    std::shared_ptr<CFakeAdapter> m_pAdapter;
};

void CFakeAdapter::HangUpAt(EFakeCall eCall, int nNth, bool bLinesStillAnswer) {
    Lock lock(m_mutex);
    m_eHangUpCall = eCall;
    m_nHangUpAt = m_calls[eCall] + nNth;
    m_bLinesStillAnswer = bLinesStillAnswer;
}

void CFakeAdapter::DoHangUp(Lock&) {
    if (!m_bHungUp)
        m_nHangUpMs = GetClock().GetMilliseconds();
    m_bHungUp = true;
    m_cv.notify_all();
}

bool CFakeAdapter::Count(Lock& lock, EFakeCall eCall) {
    const int nCall = ++m_calls[eCall];
    if (eCall == m_eHangUpCall && nCall == m_nHangUpAt)
        DoHangUp(lock);
    return !m_bHungUp;
}

std::vector<uint8_t> CFakeAdapter::GetSent() const {
    Lock lock(m_mutex);
    return m_sent;
}

std::vector<int> CFakeAdapter::GetFlagChanges() const {
    Lock lock(m_mutex);
    return m_flagChanges;
}

std::vector<int> CFakeAdapter::GetTriggerChanges() const {
    Lock lock(m_mutex);
    return m_triggerChanges;
}

int CFakeAdapter::GetRxTrigger() const {
    Lock lock(m_mutex);
    return m_script.m_nRxTrigger;
}

int CFakeAdapter::GetSerialFlags() const {
    Lock lock(m_mutex);
    return m_script.m_nSerialFlags;
}

int CFakeAdapter::GetOpens() const {
    Lock lock(m_mutex);
    return m_nOpens;
}

int CFakeAdapter::GetPurgesDuringWait() const {
    Lock lock(m_mutex);
    return m_nPurgesDuringWait;
}

bool CFakeAdapter::IsOpen() const {
    Lock lock(m_mutex);
    return m_bOpen;
}

int64_t CFakeAdapter::GetHangUpMs() const {
    Lock lock(m_mutex);
    return m_nHangUpMs;
}

bool CFakeAdapter::IsLow(const std::vector<std::pair<int64_t, int64_t>>& spans, int64_t nMs,
                         int64_t* pUntilMs) {
    for (const auto& [nFrom, nUntil] : spans) {
        if (nMs >= nFrom && nMs < nUntil) {
            if (pUntilMs)
                *pUntilMs = nUntil;
            return true;
        }
    }
    return false;
}

int64_t CFakeAdapter::ByteUs() const {
    if (m_script.m_nDrainPerSecond > 0)
        return 1000000 / m_script.m_nDrainPerSecond;
    return int64_t(m_line.BitsPerByte()) * 1000000 / std::max<uint32_t>(m_line.m_nBaud, 1);
}

// Plays the line up to nNowUs: queued bytes leave one after another while CTS is up, the machine
// answers each, and its answer reaches the reader at the latency timer's next tick.
void CFakeAdapter::Update(Lock&, int64_t nNowUs) {
    if (m_nDrainedToUs < 0 || m_queue.empty())
        m_nDrainedToUs = std::max(m_nDrainedToUs, nNowUs);
    const int64_t nLineByteUs =
        int64_t(m_line.BitsPerByte()) * 1000000 / std::max<uint32_t>(m_line.m_nBaud, 1);
    const int nLatencyMs =
        (m_script.m_nSerialFlags & ASYNC_LOW_LATENCY) ? 1 : m_script.m_nLatencyMs;
    const int64_t nTickUs = int64_t(nLatencyMs) * 1000;
    int64_t nAt = m_nDrainedToUs;
    while (!m_queue.empty() && nAt < nNowUs) {
        int64_t nUntilMs = 0;
        if (m_nHeadSentUs == 0 && IsLow(m_script.m_ctsLow, nAt / 1000, &nUntilMs)) {
            nAt = nUntilMs == kNever ? nNowUs : std::min(nNowUs, nUntilMs * 1000);
            continue;
        }
        const int64_t nStep = std::min(ByteUs() - m_nHeadSentUs, nNowUs - nAt);
        m_nHeadSentUs += nStep;
        nAt += nStep;
        if (m_nHeadSentUs < ByteUs())
            break;
        const uint8_t nByte = m_queue.front();
        m_queue.erase(m_queue.begin());
        m_nHeadSentUs = 0;
        m_sent.push_back(nByte);
        if (!m_script.m_fnMachine)
            continue;
        const std::vector<uint8_t> answer = m_script.m_fnMachine(nByte);
        const size_t nFirst = m_incoming.size();
        for (uint8_t nAnswer : answer) {
            const int64_t nGapUs = m_nInputFreeUs > 0 ? int64_t(m_script.m_nAnswerGapMs) * 1000 : 0;
            const int64_t nArrivalUs = std::max(nAt, m_nInputFreeUs + nGapUs) + nLineByteUs;
            m_nInputFreeUs = nArrivalUs;
            const int64_t nDueUs =
                nTickUs > 0 ? (nArrivalUs + nTickUs - 1) / nTickUs * nTickUs : nArrivalUs;
            m_incoming.emplace_back(nDueUs, nAnswer);
        }
        // Fewer bytes than the trigger level wait in the FIFO for its character time-out.
        if (!answer.empty() && answer.size() < size_t(m_script.m_nRxTrigger)) {
            for (size_t i = nFirst; i < m_incoming.size(); ++i)
                m_incoming[i].first = m_nInputFreeUs + 4 * nLineByteUs;
        }
    }
    m_nDrainedToUs = std::max(m_nDrainedToUs, nAt);
    size_t nDue = 0;
    while (nDue < m_incoming.size() && m_incoming[nDue].first <= nNowUs)
        m_readable.push_back(m_incoming[nDue++].second);
    m_incoming.erase(m_incoming.begin(), m_incoming.begin() + nDue);
}

int64_t CFakeAdapter::NextEventUs() const {
    int64_t nNextUs = kNever;
    if (!m_incoming.empty())
        nNextUs = m_incoming.front().first;
    if (!m_queue.empty() && m_script.m_fnMachine)
        nNextUs = std::min(nNextUs, m_nDrainedToUs + ByteUs() - m_nHeadSentUs);
    return nNextUs;
}

CFakeAdapters::CFakeAdapters() {
    // The computer's own serial ports would be the ports above COM4.
    SetSystemDeviceRoots("/nonexistent/dev", "/nonexistent/sys");
    SetSerialDeviceFactory([this] { return std::make_unique<CFakeSerialDevice>(*this); });
}

CFakeAdapters::~CFakeAdapters() {
    SetSerialDeviceFactory(nullptr);
}

CFakeAdapter& CFakeAdapters::Add(const std::string& strPath, CFakeAdapterScript script) {
    std::lock_guard lock(m_mutex);
    auto pAdapter = std::make_shared<CFakeAdapter>(std::move(script));
    m_adapters[strPath] = pAdapter;
    return *pAdapter;
}

CFakeAdapter& CFakeAdapters::AddCom(const CPortsHome& home, int nCom, CFakeAdapterScript script) {
    const std::string strPath = "/dev/fake-ttyUSB" + std::to_string(nCom - 1);
    home.Relink(nCom, strPath);
    return Add(strPath, std::move(script));
}

std::shared_ptr<CFakeAdapter> CFakeAdapters::Find(const std::string& strPath) const {
    std::lock_guard lock(m_mutex);
    auto it = m_adapters.find(strPath);
    return it == m_adapters.end() ? nullptr : it->second;
}

std::function<std::vector<uint8_t>(uint8_t)> AnswerQuery(std::string strReply) {
    auto pSawF = std::make_shared<bool>(false);
    return [pSawF, strReply = std::move(strReply)](uint8_t nByte) {
        const bool bQuery = *pSawF && nByte == ';';
        *pSawF = nByte == 'F';
        return bQuery ? std::vector<uint8_t>(strReply.begin(), strReply.end())
                      : std::vector<uint8_t>();
    };
}
