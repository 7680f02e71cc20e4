#include "tests/support/Wait.h"

#include <sys/syscall.h>

#include <fstream>
#include <string>

#include <thread>

bool WaitUntil(const std::function<bool()>& fnDone, int nMilliseconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(nMilliseconds);
    while (!fnDone()) {
        if (std::chrono::steady_clock::now() > end)
            return fnDone();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

bool IsThreadInPoll(long nTid) {
    // The first field is the number of the system call the thread sleeps in, or "running".
    std::ifstream file("/proc/self/task/" + std::to_string(nTid) + "/syscall");
    long nCall = -1;
    if (!(file >> nCall))
        return false;
#ifdef SYS_poll
    if (nCall == SYS_poll)
        return true;
#endif
    return nCall == SYS_ppoll;
}
