#include "ports/SerialDevice.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

namespace {

struct CBaudEntry {
    uint32_t m_nBaud;
    speed_t m_speed;
};

const CBaudEntry s_bauds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

bool SpeedFor(uint32_t nBaud, speed_t* pSpeed) {
    for (const CBaudEntry& entry : s_bauds) {
        if (entry.m_nBaud == nBaud) {
            *pSpeed = entry.m_speed;
            return true;
        }
    }
    return false;
}

uint32_t BaudFor(speed_t speed) {
    for (const CBaudEntry& entry : s_bauds) {
        if (entry.m_speed == speed)
            return entry.m_nBaud;
    }
    return 0;
}

bool IsPseudoTerminal(int nFd) {
    struct stat st {};
    if (fstat(nFd, &st) != 0 || !S_ISCHR(st.st_mode))
        return false;
    const unsigned nMajor = major(st.st_rdev);
    return nMajor >= 136 && nMajor <= 143; // Unix98 pseudo-terminal slaves
}

bool IsGone(int nErrno) {
    return nErrno == EIO || nErrno == ENXIO || nErrno == ENODEV;
}

// Modem-line ioctls that a device does not have (pseudo-terminals) count as done.
bool NoModemLines(int nErrno) {
    return nErrno == ENOTTY || nErrno == EINVAL;
}

static_assert(ISerialDevice::kLowLatencyFlag == ASYNC_LOW_LATENCY);

} // namespace

std::unique_ptr<ISerialDevice> MakeSystemSerialDevice() {
    return std::make_unique<CSerialDevice>();
}

CSerialDevice::CSerialDevice(std::string strSysRoot) : m_strSysRoot(std::move(strSysRoot)) {
    m_nWakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

CSerialDevice::~CSerialDevice() {
    Close();
    if (m_nWakeFd >= 0)
        close(m_nWakeFd);
}

int CSerialDevice::Open(const std::string& strPath) {
    if (m_nWakeFd < 0)
        return EMFILE;
    const int nFd = open(strPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (nFd < 0)
        return errno;
    // TIOCEXCL keeps other users out, but not root; the lock keeps out every program that asks.
    if (flock(nFd, LOCK_EX | LOCK_NB) != 0) {
        const int nErrno = errno == EWOULDBLOCK ? EBUSY : errno;
        close(nFd);
        return nErrno;
    }
    if (!isatty(nFd)) {
        close(nFd);
        return ENOTTY;
    }
    ioctl(nFd, TIOCEXCL);
    std::error_code ec;
    const std::filesystem::path device = std::filesystem::canonical(strPath, ec);
    m_strTriggerPath = m_strSysRoot + "/class/tty/" +
                       (ec ? std::filesystem::path(strPath) : device).filename().string() +
                       "/rx_trig_bytes";
    auto pSaved = std::make_unique<struct termios>();
    if (tcgetattr(nFd, pSaved.get()) == 0)
        m_pSaved = std::move(pSaved);
    m_nFd = nFd;
    return 0;
}

void CSerialDevice::Close() {
    if (m_nFd < 0)
        return;
    if (m_pSaved)
        tcsetattr(m_nFd, TCSANOW, m_pSaved.get());
    m_pSaved.reset();
    ioctl(m_nFd, TIOCNXCL);
    close(m_nFd); // also releases the lock
    m_nFd = -1;
}

CLineSettings LineSettingsOf(const struct termios& tio) {
    CLineSettings settings;
    settings.m_nBaud = BaudFor(cfgetospeed(&tio));
    settings.m_nDataBits = (tio.c_cflag & CSIZE) == CS7 ? 7 : 8;
    // Space parity, which Apply never sets, reads as even: it takes a bit on the wire all the same.
    if (!(tio.c_cflag & PARENB))
        settings.m_nParity = 0;
    else if ((tio.c_cflag & (PARODD | CMSPAR)) == (PARODD | CMSPAR))
        settings.m_nParity = 3;
    else
        settings.m_nParity = (tio.c_cflag & PARODD) ? 1 : 2;
    settings.m_nStopBits = (tio.c_cflag & CSTOPB) ? 2 : 1;
    settings.m_bCtsFlow = (tio.c_cflag & CRTSCTS) != 0;
    settings.m_bXonXoff = (tio.c_iflag & (IXON | IXOFF)) != 0;
    settings.m_cXon = static_cast<char>(tio.c_cc[VSTART]);
    settings.m_cXoff = static_cast<char>(tio.c_cc[VSTOP]);
    return settings;
}

bool CSerialDevice::IsSupportedBaud(uint32_t nBaud) {
    speed_t speed;
    return SpeedFor(nBaud, &speed);
}

int CSerialDevice::Apply(const CLineSettings& settings, CLineSettings& applied) {
    speed_t speed;
    if (!SpeedFor(settings.m_nBaud, &speed))
        return EINVAL;
    struct termios tio {};
    if (tcgetattr(m_nFd, &tio) != 0)
        return errno;
    cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    tio.c_cflag |= (settings.m_nDataBits == 7 ? CS7 : CS8) | CLOCAL | CREAD;
    switch (settings.m_nParity) {
    case 1:
        tio.c_cflag |= PARENB | PARODD;
        break;
    case 2:
        tio.c_cflag |= PARENB;
        break;
    case 3:
        tio.c_cflag |= PARENB | PARODD | CMSPAR;
        break;
    default:
        break;
    }
    if (settings.m_nStopBits == 2)
        tio.c_cflag |= CSTOPB;
    if (settings.m_bCtsFlow)
        tio.c_cflag |= CRTSCTS;
    // Binary loader bytes include 0x11 and 0x13: without "X" they must pass untouched.
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    if (settings.m_bXonXoff) {
        tio.c_iflag |= IXON | IXOFF;
        tio.c_cc[VSTART] = static_cast<cc_t>(settings.m_cXon);
        tio.c_cc[VSTOP] = static_cast<cc_t>(settings.m_cXoff);
    }
    // The device is non-blocking, so reads never wait either way; with VMIN=1 an empty device
    // reads as EAGAIN and only a hung-up one reads as 0 bytes.
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    if (tcsetattr(m_nFd, TCSANOW, &tio) != 0)
        return errno;

    struct termios back {};
    if (tcgetattr(m_nFd, &back) != 0)
        return errno;
    // A line that still cooks or echoes is no raw line, whatever its frame.
    if ((back.c_lflag & (ICANON | ECHO | ISIG)) != 0 ||
        (back.c_cflag & (CLOCAL | CREAD)) != (CLOCAL | CREAD))
        return EINVAL;
    applied = LineSettingsOf(back);
    // A pseudo-terminal has no wire to put parity on: the kernel keeps it at 8 bits, no parity.
    if (IsPseudoTerminal(m_nFd)) {
        applied.m_nDataBits = settings.m_nDataBits;
        applied.m_nParity = settings.m_nParity;
    }
    return 0;
}

void CSerialDevice::SetDtr(bool bOn) {
    int nBits = TIOCM_DTR;
    ioctl(m_nFd, bOn ? TIOCMBIS : TIOCMBIC, &nBits);
}

ISerialDevice::ELine CSerialDevice::GetDsr() {
    int nLines = 0;
    if (ioctl(m_nFd, TIOCMGET, &nLines) != 0)
        return !NoModemLines(errno) && IsGone(errno) ? ELine::Gone : ELine::On;
    return (nLines & TIOCM_DSR) ? ELine::On : ELine::Off;
}

void CSerialDevice::Purge(EQueue eQueues) {
    switch (eQueues) {
    case EQueue::Input:
        tcflush(m_nFd, TCIFLUSH);
        break;
    case EQueue::Output:
        tcflush(m_nFd, TCOFLUSH);
        break;
    case EQueue::Both:
        tcflush(m_nFd, TCIOFLUSH);
        break;
    }
}

CSerialDevice::EEvent CSerialDevice::WaitEvent() {
    struct pollfd fds[2] = {{m_nFd, POLLIN, 0}, {m_nWakeFd, POLLIN, 0}};
    for (;;) {
        const int nReady = poll(fds, 2, -1);
        if (nReady < 0) {
            if (errno == EINTR)
                continue;
            return EEvent::Dead;
        }
        if (fds[1].revents & POLLIN)
            return EEvent::Woken;
        // Bytes left behind by a peer that has hung up are still taken; the read then reports
        // the hang-up.
        if (fds[0].revents & POLLIN)
            return EEvent::Data;
        if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL))
            return EEvent::Dead;
    }
}

void CSerialDevice::Wake() {
    const uint64_t nOne = 1;
    [[maybe_unused]] ssize_t n = write(m_nWakeFd, &nOne, sizeof nOne);
}

void CSerialDevice::ClearWake() {
    uint64_t nCount;
    [[maybe_unused]] ssize_t n = read(m_nWakeFd, &nCount, sizeof nCount);
}

ssize_t CSerialDevice::ReadAvailable(void* pDest, size_t nMax) {
    for (;;) {
        const ssize_t n = read(m_nFd, pDest, nMax);
        if (n > 0)
            return n;
        if (n == 0)
            return -1; // a hung-up terminal reads as end of file
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN)
            return 0;
        return IsGone(errno) ? -1 : 0;
    }
}

ssize_t CSerialDevice::WriteSome(const void* pData, size_t nCount, int nWaitMs) {
    const auto* pBytes = static_cast<const uint8_t*>(pData);
    size_t nDone = 0;
    struct pollfd pfd = {m_nFd, POLLOUT, 0};
    while (nDone < nCount) {
        const ssize_t n = write(m_nFd, pBytes + nDone, nCount - nDone);
        if (n > 0) {
            nDone += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            return IsGone(errno) || nDone == 0 ? -1 : static_cast<ssize_t>(nDone);
        // The driver is full: the peer holds us off. Wait for room, but not past the limit.
        if (nWaitMs <= 0)
            break;
        const int nReady = poll(&pfd, 1, nWaitMs);
        if (nReady == 0)
            break;
        if (nReady < 0 && errno != EINTR)
            return -1;
        if (pfd.revents & (POLLHUP | POLLERR | POLLNVAL))
            return nDone ? static_cast<ssize_t>(nDone) : -1;
        // A partial pass shortens the remaining wait only slightly; the caller bounds the whole.
    }
    return static_cast<ssize_t>(nDone);
}

int CSerialDevice::OutputQueued() {
    int nQueued = 0;
    if (ioctl(m_nFd, TIOCOUTQ, &nQueued) != 0)
        return IsGone(errno) ? -1 : 0;
    return nQueued;
}

int CSerialDevice::GetSerialFlags(int& nFlags) {
    struct serial_struct serial {};
    if (ioctl(m_nFd, TIOCGSERIAL, &serial) != 0)
        return errno;
    nFlags = serial.flags;
    return 0;
}

int CSerialDevice::SetSerialFlags(int nFlags) {
    // The driver takes the whole record back: only the flags change.
    struct serial_struct serial {};
    if (ioctl(m_nFd, TIOCGSERIAL, &serial) != 0)
        return errno;
    serial.flags = nFlags;
    if (ioctl(m_nFd, TIOCSSERIAL, &serial) != 0)
        return errno;
    return 0;
}

int CSerialDevice::GetReceiveTrigger(int& nBytes) {
    std::FILE* pFile = std::fopen(m_strTriggerPath.c_str(), "re");
    if (!pFile)
        return errno;
    const bool bRead = std::fscanf(pFile, "%d", &nBytes) == 1;
    std::fclose(pFile);
    return bRead ? 0 : EINVAL;
}

int CSerialDevice::SetReceiveTrigger(int nBytes) {
    std::FILE* pFile = std::fopen(m_strTriggerPath.c_str(), "we");
    if (!pFile)
        return errno;
    // The kernel takes the value at the write and refuses one the UART cannot set there.
    const bool bWritten = std::fprintf(pFile, "%d\n", nBytes) > 0;
    const int nErrno = std::fclose(pFile) == 0 && bWritten ? 0 : (errno ? errno : EIO);
    return nErrno;
}
