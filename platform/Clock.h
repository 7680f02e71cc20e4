#pragma once
// Time as the wizard's waits see it. Everything that waits for the machine reads the clock and
// sleeps through here, so a test can start a wait at second 58 of a minute or skip a pause.
#include <cstdint>

class IClock {
public:
    virtual ~IClock() = default;
    // Milliseconds on a monotonic clock (what the waits of the transfer measure with).
    virtual int64_t GetMilliseconds() = 0;
    // Whole seconds of the calendar clock (what the reply timer counts in).
    virtual int64_t GetCalendarSeconds() = 0;
    virtual void Sleep(int nMilliseconds) = 0;
};

// The clock in force: the system's, unless a test has put another in its place.
IClock& GetClock();
// nullptr puts the system clock back.
void SetClock(IClock* pClock);
