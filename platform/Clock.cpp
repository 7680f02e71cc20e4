#include "platform/Clock.h"

#include "platform/System.h"

#include <chrono>
#include <ctime>
#include <thread>

namespace {

class CSystemClock : public IClock {
public:
    int64_t GetMilliseconds() override {
        using namespace std::chrono;
        return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    }
    int64_t GetCalendarSeconds() override { return static_cast<int64_t>(std::time(nullptr)); }
    void Sleep(int nMilliseconds) override {
        if (nMilliseconds > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(nMilliseconds));
    }
    int64_t GetMicroseconds() override {
        using namespace std::chrono;
        return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
    }
    void SleepMicroseconds(int64_t nMicroseconds) override {
        SleepAtLeastMicroseconds(nMicroseconds);
    }
};

CSystemClock g_systemClock;
IClock* g_pClock = &g_systemClock;

} // namespace

IClock& GetClock() {
    return *g_pClock;
}

void SetClock(IClock* pClock) {
    g_pClock = pClock ? pClock : &g_systemClock;
}
