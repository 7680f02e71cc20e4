#pragma once
// What the transfer tests share: a recorded operator and progress dialog, a clock whose pauses
// are recorded (and shortened), test bytes, and a private ports folder in which the simulated
// machine's line is COM1.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "frontend/Operator.h"
#include "frontend/ProgressSink.h"
#include "platform/Clock.h"
#include "sim/BootMode.h"
#include "sim/MachineSim.h"

namespace transfer_test {

// One call the transfer made on its operator, its dialog or the clock, in order.
struct CEvent {
    enum EKind { Create, Message, Range, Pos, Check, Destroy, CursorBegin, CursorEnd, Sleep };
    CEvent(EKind eKind, int64_t nA = 0, int64_t nB = 0, std::string strText = {})
        : m_eKind(eKind), m_nA(nA), m_nB(nB), m_strText(std::move(strText)) {}
    EKind m_eKind;
    int64_t m_nA = 0;
    int64_t m_nB = 0;
    std::string m_strText;
};

class CTransferLog {
public:
    void Add(CEvent event) {
        std::lock_guard lock(m_mutex);
        m_events.push_back(std::move(event));
    }
    std::vector<CEvent> GetEvents() const {
        std::lock_guard lock(m_mutex);
        return m_events;
    }
    std::vector<CEvent> Of(CEvent::EKind eKind) const {
        std::vector<CEvent> result;
        for (const CEvent& event : GetEvents())
            if (event.m_eKind == eKind)
                result.push_back(event);
        return result;
    }
    std::vector<int64_t> Positions() const {
        std::vector<int64_t> result;
        for (const CEvent& event : Of(CEvent::Pos))
            result.push_back(event.m_nA);
        return result;
    }
    int64_t LastPos() const {
        std::lock_guard lock(m_mutex);
        for (auto it = m_events.rbegin(); it != m_events.rend(); ++it)
            if (it->m_eKind == CEvent::Pos)
                return it->m_nA;
        return -1;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<CEvent> m_events;
};

// Decides at each CheckCancel whether the operator has pressed Cancel.
using CancelRule = std::function<bool()>;

class CRecordingSink : public IProgressSink {
public:
    CRecordingSink(CTransferLog& log, std::atomic<int>& nAlive, CancelRule& rule,
                   std::atomic<bool>& bPending, std::function<void(int32_t)>& fnOnPos)
        : m_log(log), m_nAlive(nAlive), m_rule(rule), m_bPending(bPending), m_fnOnPos(fnOnPos) {
        ++m_nAlive;
    }
    ~CRecordingSink() override {
        m_log.Add({CEvent::Destroy});
        --m_nAlive;
    }
    int Create() override {
        m_log.Add({CEvent::Create});
        return 1;
    }
    void SetMessage(const std::string& strText) override {
        m_log.Add({CEvent::Message, 0, 0, strText});
    }
    void SetRange(int32_t nLower, int32_t nUpper) override {
        m_log.Add({CEvent::Range, nLower, nUpper});
    }
    int SetPos(int32_t nPos) override {
        m_log.Add({CEvent::Pos, nPos});
        if (m_fnOnPos)
            m_fnOnPos(nPos);
        return 0;
    }
    int CheckCancel() override {
        m_log.Add({CEvent::Check});
        if (m_rule && m_rule())
            m_bPending = true;
        return m_bPending.exchange(false) ? 1 : 0;
    }

private:
    CTransferLog& m_log;
    std::atomic<int>& m_nAlive;
    CancelRule& m_rule;
    std::atomic<bool>& m_bPending;
    std::function<void(int32_t)>& m_fnOnPos;
};

class CRecordingOperator : public IOperator {
public:
    explicit CRecordingOperator(CTransferLog& log) : m_log(log) {}
    int ShowMessage(const CMessage&) override {
        ++m_nMessages;
        return kIdOk;
    }
    void BeginWaitCursor() override { m_log.Add({CEvent::CursorBegin}); }
    void EndWaitCursor() override { m_log.Add({CEvent::CursorEnd}); }
    bool RunPortDialog(std::string&) override { return false; }
    bool RunFileOpenDialog(const std::string&, const std::string&, std::string&) override {
        return false;
    }
    std::unique_ptr<IProgressSink> CreateProgress() override {
        ++m_nDialogs;
        return std::make_unique<CRecordingSink>(m_log, m_nAlive, m_cancelRule, m_bPendingCancel,
                                                m_fnOnPos);
    }

    CancelRule m_cancelRule;                   // evaluated at each CheckCancel
    std::atomic<bool> m_bPendingCancel{false}; // a Cancel pressed, not yet seen
    std::function<void(int32_t)> m_fnOnPos;    // called at each SetPos
    std::atomic<int> m_nAlive{0};              // dialogs that exist now
    int m_nDialogs = 0;
    int m_nMessages = 0;

private:
    CTransferLog& m_log;
};

// The system's time, with each pause recorded and cut to m_nRealMs of real sleep (0: none).
class CPauseClock : public IClock {
public:
    explicit CPauseClock(CTransferLog& log) : m_log(log) {}
    int64_t GetMilliseconds() override {
        using namespace std::chrono;
        return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    }
    int64_t GetCalendarSeconds() override {
        using namespace std::chrono;
        return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
    }
    void Sleep(int nMilliseconds) override {
        m_log.Add({CEvent::Sleep, nMilliseconds});
        if (m_fnOnSleep)
            m_fnOnSleep(nMilliseconds);
        const int nReal = std::min(nMilliseconds, m_nRealMs);
        if (nReal > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(nReal));
    }

    int m_nRealMs = 0;
    std::function<void(int)> m_fnOnSleep;

private:
    CTransferLog& m_log;
};

// Bytes that look like nothing in particular, with the values a line could swallow or change
// (XON, XOFF, CR, LF, 0x00, 0xFF, the boot mode's own 0x55 and 0xAA) among them.
std::vector<uint8_t> MakeBytes(size_t nCount, uint32_t nSeed);

// Polls until fnDone is true or nMilliseconds have passed; fnDone's last answer.
bool WaitUntil(const std::function<bool()>& fnDone, int nMilliseconds = 5000);

// How many descriptors of this process are open on strDevice (the simulator keeps one itself).
int CountDeviceFds(const std::string& strDevice);

// A private folder and XDG_CONFIG_HOME pointing into it, so "COM1:" names the simulator's line.
class CPortsHome {
public:
    CPortsHome();
    ~CPortsHome();
    const std::string& GetPortsDir() const { return m_strPortsDir; }
    // Makes COM1 name a device that does not exist (the port is absent), or the simulator's
    // line again.
    void MakeAbsent(int nCom);
    void Relink(int nCom, const std::string& strDevice);

private:
    std::string m_strRoot;
    std::string m_strPortsDir;
    std::string m_strOldConfig;
    bool m_bHadConfig = false;
};

} // namespace transfer_test
