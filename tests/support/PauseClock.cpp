#include "tests/support/PauseClock.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "tests/support/ProgressLog.h"

int64_t CPauseClock::GetMilliseconds() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int64_t CPauseClock::GetCalendarSeconds() {
    using namespace std::chrono;
    return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

void CPauseClock::Sleep(int nMilliseconds) {
    if (m_pLog)
        m_pLog->Add({CEvent::Sleep, nMilliseconds});
    if (m_fnOnSleep)
        m_fnOnSleep(nMilliseconds);
    const int nReal = std::min(nMilliseconds, m_nRealMs);
    if (nReal > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(nReal));
}

void CStepClock::Sleep(int nMilliseconds) {
    m_nNowMs += nMilliseconds;
    if (nMilliseconds > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(nMilliseconds));
}
