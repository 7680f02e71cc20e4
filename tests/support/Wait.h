#pragma once
// Waiting for something another thread or process does: poll the condition, never sleep a fixed
// time and hope.
#include <chrono>
#include <cstdint>
#include <functional>

// Polls until fnDone is true or nMilliseconds have passed; fnDone's last answer. The limit only
// stops a test that would otherwise hang; it is not a measure of speed.
bool WaitUntil(const std::function<bool()>& fnDone, int nMilliseconds = 10000);

// Whether thread nTid of this process sleeps in poll() or ppoll() right now: the wait a test means
// to end from outside has begun, so ending it proves more than ending the next one would.
bool IsThreadInPoll(long nTid);

inline int64_t ElapsedMs(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}
