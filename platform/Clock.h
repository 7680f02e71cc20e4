#pragma once
// Time as the wizard's waits see it. Everything that waits for the machine reads the clock and
// sleeps through here, so a test can start a wait at second 58 of a minute or skip a pause.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

class IClock {
public:
    virtual ~IClock() = default;
    // Milliseconds on a monotonic clock: every time-out is measured with it, so a wall clock set
    // back or forward during a wait neither stretches nor cuts it.
    virtual int64_t GetMilliseconds() = 0;
    // Whole seconds of the calendar clock. No wait is judged by it: an operator or a time
    // service may move it at any moment.
    virtual int64_t GetCalendarSeconds() = 0;
    virtual void Sleep(int nMilliseconds) = 0;

    // The serial line's pacing needs finer steps than a millisecond; a clock of whole
    // milliseconds is read and slept in those.
    virtual int64_t GetMicroseconds() { return GetMilliseconds() * 1000; }
    virtual void SleepMicroseconds(int64_t nMicroseconds) {
        if (nMicroseconds > 0)
            Sleep(static_cast<int>((nMicroseconds + 999) / 1000));
    }
    // Waits until fnReady holds (checked under lock, woken through cv) or nMilliseconds have
    // passed on this clock; fnReady's last answer.
    virtual bool WaitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                         int nMilliseconds, const std::function<bool()>& fnReady) {
        return cv.wait_for(lock, std::chrono::milliseconds(nMilliseconds > 0 ? nMilliseconds : 0),
                           fnReady);
    }
};

// The clock in force: the system's, unless a test has put another in its place.
IClock& GetClock();
// nullptr puts the system clock back.
void SetClock(IClock* pClock);

// Whole seconds of the monotonic clock in force: what the reply timers count in.
inline int64_t GetMonotonicSeconds() {
    return GetClock().GetMilliseconds() / 1000;
}
