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

int64_t CPauseClock::GetMicroseconds() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

void CPauseClock::SleepMicroseconds(int64_t nMicroseconds) {
    if (nMicroseconds > 0)
        std::this_thread::sleep_for(std::chrono::microseconds(nMicroseconds));
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
    const int nReal = std::min(nMilliseconds, m_nRealMaxMs);
    if (nReal > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(nReal));
}

bool CStepClock::WaitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                         int nMilliseconds, const std::function<bool()>& fnReady) {
    const int nReal = std::max(std::min(nMilliseconds, m_nRealMaxMs), 0);
    if (cv.wait_for(lock, std::chrono::milliseconds(nReal), fnReady))
        return true;
    m_nNowMs += std::max(nMilliseconds, 0);
    return fnReady();
}

namespace {

int64_t RealMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Far from second 0, so that a wait that starts on it is not a special case.
constexpr int64_t kHeldAtMs = 1000000;

} // namespace

int64_t CHeldClock::GetMilliseconds() {
    const int64_t nReleased = m_nReleasedAtMs.load();
    return nReleased < 0 ? kHeldAtMs : kHeldAtMs + RealMs() - nReleased;
}

void CHeldClock::Sleep(int nMilliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(nMilliseconds));
}

void CHeldClock::Release() {
    m_nReleasedAtMs = RealMs();
}
