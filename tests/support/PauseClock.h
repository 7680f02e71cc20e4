#pragma once
// Clocks a test puts in place of the system's (SetClock).
#include <atomic>
#include <climits>
#include <cstdint>
#include <functional>

#include "platform/Clock.h"

class CTransferLog;

// The system's time, with each of the program's pauses cut to at most m_nRealMs of real sleep
// (0: none) and, given a log, written down. For the protocol's pauses, which a simulated machine
// does not need.
class CPauseClock : public IClock {
public:
    explicit CPauseClock(int nRealMs = 0) : m_nRealMs(nRealMs) {}
    explicit CPauseClock(CTransferLog& log, int nRealMs = 0) : m_nRealMs(nRealMs), m_pLog(&log) {}
    int64_t GetMilliseconds() override;
    int64_t GetCalendarSeconds() override;
    void Sleep(int nMilliseconds) override;
    // The serial line's own pacing is the line's, not a pause of the protocol: real, not logged.
    int64_t GetMicroseconds() override;
    void SleepMicroseconds(int64_t nMicroseconds) override;

    int m_nRealMs = 0;
    std::function<void(int)> m_fnOnSleep; // called with each pause, before it is slept

private:
    CTransferLog* m_pLog = nullptr;
};

// A clock of the test's own that moves only when the program looks at it or waits on it: each
// reading advances it by the step, each Sleep by the whole pause (slept for real, so that the
// machine's bytes can arrive meanwhile). A time-out judged on it counts the program's own polls,
// so a busy computer makes it neither shorter nor longer, and a wait for a byte that never comes
// ends after a bounded number of polls. A wait for an event (WaitFor) that is not answered moves
// it by its whole limit too.
//
// With nRealMaxMs, pauses and unanswered waits take at most that much real time: a step of 0 and
// a real time of 0 make a clock that moves only when the program waits, for scripted devices
// whose lines and queues follow the clock rather than another thread. Where the program waits on
// another thread (its receive thread), give that thread a few real milliseconds.
class CStepClock : public IClock {
public:
    explicit CStepClock(int nStepMs = 10, int nRealMaxMs = INT_MAX)
        : m_nStepMs(nStepMs), m_nRealMaxMs(nRealMaxMs) {}
    int64_t GetMilliseconds() override { return m_nNowMs.fetch_add(m_nStepMs) + m_nStepMs; }
    int64_t GetCalendarSeconds() override { return GetMilliseconds() / 1000; }
    void Sleep(int nMilliseconds) override;
    bool WaitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, int nMilliseconds,
                 const std::function<bool()>& fnReady) override;

    // The time now, without moving it.
    int64_t Now() const { return m_nNowMs; }

private:
    const int m_nStepMs;
    const int m_nRealMaxMs;
    // On a whole second, so the calendar seconds of a wait are the same in every run.
    std::atomic<int64_t> m_nNowMs{1'000'000};
};

// Puts a clock in force for as long as this lives, then the system's again.
// A clock that stands still until Release, then runs in real time from where it stood: a time-out
// on it cannot end a wait that a test means to see ended by something else (an answer, a cancel),
// nor can a wait that the test watches end before the test has looked. Sleeps are real.
class CHeldClock : public IClock {
public:
    int64_t GetMilliseconds() override;
    int64_t GetCalendarSeconds() override { return GetMilliseconds() / 1000; }
    void Sleep(int nMilliseconds) override;
    void Release();

private:
    std::atomic<int64_t> m_nReleasedAtMs{-1}; // the real clock's reading at Release
};

class CClockOverride {
public:
    explicit CClockOverride(IClock& clock) { SetClock(&clock); }
    ~CClockOverride() { SetClock(nullptr); }
    CClockOverride(const CClockOverride&) = delete;
    CClockOverride& operator=(const CClockOverride&) = delete;
};
