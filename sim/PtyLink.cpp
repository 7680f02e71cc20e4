#include "sim/PtyLink.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <thread>

#include "ports/SerialDevice.h"

CPtyLink::~CPtyLink() {
    Close();
}

bool CPtyLink::Open(const std::string& strPortsDir, int nCom) {
    Close();
    const int nMaster = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (nMaster < 0)
        return false;
    char szName[128];
    if (grantpt(nMaster) != 0 || unlockpt(nMaster) != 0 ||
        ptsname_r(nMaster, szName, sizeof szName) != 0) {
        close(nMaster);
        return false;
    }
    const int nSlave = open(szName, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (nSlave < 0) {
        close(nMaster);
        return false;
    }
    // Raw from the start, so bytes sent before the program sets the line arrive unchanged.
    struct termios tio {};
    tcgetattr(nSlave, &tio);
    cfmakeraw(&tio);
    tcsetattr(nSlave, TCSANOW, &tio);
    struct termios rest {};
    tcgetattr(nSlave, &rest);
    fcntl(nMaster, F_SETFL, fcntl(nMaster, F_GETFL) | O_NONBLOCK);

    std::error_code ec;
    std::filesystem::create_directories(strPortsDir, ec);
    const std::string strLink = strPortsDir + "/com" + std::to_string(nCom);
    std::filesystem::remove(strLink, ec);
    if (symlink(szName, strLink.c_str()) != 0) {
        close(nSlave);
        close(nMaster);
        return false;
    }
    std::lock_guard lock(m_fdMutex);
    m_nMasterFd = nMaster;
    m_nSlaveFd = nSlave;
    m_rest = rest;
    {
        std::lock_guard pauseLock(m_pauseMutex);
        m_bInterrupted = false;
    }
    m_strDevicePath = szName;
    m_strLinkPath = strLink;
    ClearRecord();
    return true;
}

void CPtyLink::Close() {
    std::unique_lock lock(m_fdMutex);
    if (m_nMasterFd >= 0)
        close(m_nMasterFd);
    if (m_nSlaveFd >= 0)
        close(m_nSlaveFd);
    m_nMasterFd = m_nSlaveFd = -1;
    lock.unlock();
    if (!m_strLinkPath.empty())
        unlink(m_strLinkPath.c_str());
    m_strLinkPath.clear();
}

bool CPtyLink::IsOpen() const {
    std::lock_guard lock(m_fdMutex);
    return m_nMasterFd >= 0;
}

int CPtyLink::CountUnread() const {
    std::lock_guard lock(m_fdMutex);
    int nUnread = 0;
    if (m_nMasterFd < 0 || ::ioctl(m_nMasterFd, FIONREAD, &nUnread) != 0)
        return 0;
    return nUnread;
}

const std::string& CPtyLink::GetDevicePath() const {
    return m_strDevicePath;
}

struct termios CPtyLink::GetSettings() const {
    struct termios tio {};
    if (m_nMasterFd >= 0)
        tcgetattr(m_nMasterFd, &tio); // the master reports the program's side
    return tio;
}

bool CPtyLink::IsAtRest() const {
    if (m_nMasterFd < 0)
        return false;
    const struct termios now = GetSettings();
    return now.c_iflag == m_rest.c_iflag && now.c_oflag == m_rest.c_oflag &&
           now.c_cflag == m_rest.c_cflag && now.c_lflag == m_rest.c_lflag &&
           cfgetispeed(&now) == cfgetispeed(&m_rest) && cfgetospeed(&now) == cfgetospeed(&m_rest);
}

uint32_t CPtyLink::GetBaud() const {
    return LineSettingsOf(GetSettings()).m_nBaud;
}

std::chrono::nanoseconds CPtyLink::GetByteTime() const {
    const CLineSettings settings = LineSettingsOf(GetSettings());
    return std::chrono::nanoseconds(int64_t(settings.BitsPerByte()) * 1000000000 /
                                    std::max<uint32_t>(settings.m_nBaud, 1));
}

std::vector<uint8_t> CPtyLink::Receive(int nMilliseconds) {
    std::vector<uint8_t> bytes;
    if (m_nMasterFd < 0)
        return bytes;
    struct pollfd pfd = {m_nMasterFd, POLLIN, 0};
    if (poll(&pfd, 1, nMilliseconds) <= 0 || !(pfd.revents & POLLIN))
        return bytes;
    uint8_t buffer[4096];
    for (;;) {
        const ssize_t n = read(m_nMasterFd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        bytes.insert(bytes.end(), buffer, buffer + n);
        if (static_cast<size_t>(n) < sizeof buffer)
            break;
    }
    if (!bytes.empty()) {
        std::lock_guard lock(m_mutex);
        m_record.insert(m_record.end(), bytes.begin(), bytes.end());
    }
    return bytes;
}

bool CPtyLink::Send(const void* pData, size_t nCount) {
    if (m_nMasterFd < 0)
        return false;
    const auto* pBytes = static_cast<const uint8_t*>(pData);
    const bool bPaced = m_bPaced;
    const auto start = std::chrono::steady_clock::now();
    const std::chrono::nanoseconds byteTime = bPaced ? GetByteTime() : std::chrono::nanoseconds{0};
    size_t nDone = 0;
    auto lastProgress = std::chrono::steady_clock::now();
    while (nDone < nCount) {
        // Paced: one byte at a time, each handed over once its own wire time has passed, which
        // is when a receiving UART would have it.
        size_t nChunk = nCount - nDone;
        if (bPaced) {
            std::this_thread::sleep_until(start + byteTime * (nDone + 1));
            nChunk = 1;
        }
        const ssize_t n = write(m_nMasterFd, pBytes + nDone, nChunk);
        if (n > 0) {
            nDone += static_cast<size_t>(n);
            lastProgress = std::chrono::steady_clock::now();
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            return false;
        // A program that takes nothing for this long is not coming back for the rest.
        if (std::chrono::steady_clock::now() - lastProgress > std::chrono::seconds(10))
            return false;
        struct pollfd pfd = {m_nMasterFd, POLLOUT, 0};
        if (poll(&pfd, 1, 100) < 0 && errno != EINTR)
            return false;
        if (pfd.revents & (POLLERR | POLLNVAL))
            return false;
    }
    return true;
}

void CPtyLink::SetPaced(bool bPaced) {
    m_bPaced = bPaced;
}

bool CPtyLink::HoldOutput(bool bHold) {
    return m_nSlaveFd >= 0 && tcflow(m_nSlaveFd, bHold ? TCOOFF : TCOON) == 0;
}

void CPtyLink::Pause(int nMilliseconds) {
    std::unique_lock lock(m_pauseMutex);
    m_pauseEnd.wait_for(lock, std::chrono::milliseconds(nMilliseconds),
                        [this] { return m_bInterrupted; });
}

void CPtyLink::Interrupt() {
    {
        std::lock_guard lock(m_pauseMutex);
        m_bInterrupted = true;
    }
    m_pauseEnd.notify_all();
}

std::vector<uint8_t> CPtyLink::GetRecord() const {
    std::lock_guard lock(m_mutex);
    return m_record;
}

void CPtyLink::ClearRecord() {
    std::lock_guard lock(m_mutex);
    m_record.clear();
}

int CPtyLink::GetMasterFd() const {
    return m_nMasterFd;
}
