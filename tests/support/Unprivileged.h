#pragma once
// Runs a piece of a test in a forked child: bounded in time, so that a hang is a failure and not
// a stuck test run, and optionally as the unprivileged user "nobody", so that permission cases
// mean something when the tests themselves run as root. The child's checks must be plain code
// (gtest assertions would not reach the parent); its exit code is the result.
#include <grp.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <thread>

constexpr uid_t kNobody = 65534;
constexpr int kChildHung = -2;
constexpr int kChildDied = -1;

// The child's exit code (0..255); kChildDied when it died of a signal or could not be started,
// kChildHung when it was still running after nTimeoutMs (it is killed then).
inline int RunInChild(const std::function<int()>& work, int nTimeoutMs, bool bAsNobody = false) {
    const pid_t pid = fork();
    if (pid < 0)
        return kChildDied;
    if (pid == 0) {
        if (bAsNobody && geteuid() == 0) {
            const gid_t gid = kNobody;
            if (setgroups(1, &gid) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0)
                _exit(100);
        }
        _exit(work());
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nTimeoutMs);
    int nStatus = 0;
    for (;;) {
        const pid_t done = waitpid(pid, &nStatus, WNOHANG);
        if (done == pid)
            break;
        if (done < 0)
            return kChildDied;
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &nStatus, 0);
            return kChildHung;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : kChildDied;
}

inline int RunAsNobody(const std::function<int()>& work, int nTimeoutMs = 30000) {
    return RunInChild(work, nTimeoutMs, true);
}
