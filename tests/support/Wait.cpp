#include "tests/support/Wait.h"

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
