#include "ports/NetSocket.h"

#include <fcntl.h>
#include <linux/sockios.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/Clock.h"

namespace {

void KeepAlive(int nFd) {
    const int nOn = 1;
    setsockopt(nFd, SOL_SOCKET, SO_KEEPALIVE, &nOn, sizeof nOn);
    setsockopt(nFd, IPPROTO_TCP, TCP_KEEPIDLE, &kKeepIdleS, sizeof kKeepIdleS);
    setsockopt(nFd, IPPROTO_TCP, TCP_KEEPINTVL, &kKeepIntervalS, sizeof kKeepIntervalS);
    setsockopt(nFd, IPPROTO_TCP, TCP_KEEPCNT, &kKeepCount, sizeof kKeepCount);
    const unsigned nUnacked = kUnackedLimitMs;
    setsockopt(nFd, IPPROTO_TCP, TCP_USER_TIMEOUT, &nUnacked, sizeof nUnacked);
}

} // namespace

NetHandle NetConnect(const std::string& strHost, uint16_t nPort, int nLimitMs, CNetError& error) {
    error = CNetError();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* pList = nullptr;
    const std::string strService = std::to_string(nPort);
    const int nLookup = getaddrinfo(strHost.c_str(), strService.c_str(), &hints, &pList);
    if (nLookup != 0) {
        error = NetLookupError(strHost, gai_strerror(nLookup));
        return kNoSocket;
    }
    const int64_t nDeadline = GetClock().GetMilliseconds() + nLimitMs;
    int nLastErrno = ETIMEDOUT;
    NetHandle hFound = kNoSocket;
    for (addrinfo* p = pList; p && hFound == kNoSocket; p = p->ai_next) {
        const int nFd =
            socket(p->ai_family, p->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, p->ai_protocol);
        if (nFd < 0) {
            nLastErrno = errno;
            continue;
        }
        int nResult = connect(nFd, p->ai_addr, p->ai_addrlen);
        if (nResult != 0 && errno == EINPROGRESS) {
            nResult = -1;
            errno = ETIMEDOUT;
            for (;;) {
                const int64_t nLeft = nDeadline - GetClock().GetMilliseconds();
                if (nLeft <= 0)
                    break;
                pollfd fd{nFd, POLLOUT, 0};
                if (poll(&fd, 1, static_cast<int>(std::min<int64_t>(nLeft, kSliceMs))) > 0) {
                    int nError = 0;
                    socklen_t nLength = sizeof nError;
                    getsockopt(nFd, SOL_SOCKET, SO_ERROR, &nError, &nLength);
                    nResult = nError == 0 ? 0 : -1;
                    errno = nError;
                    break;
                }
            }
        }
        if (nResult == 0) {
            const int nOn = 1;
            setsockopt(nFd, IPPROTO_TCP, TCP_NODELAY, &nOn, sizeof nOn);
            KeepAlive(nFd);
            hFound = nFd;
        } else {
            nLastErrno = errno;
            close(nFd);
        }
    }
    freeaddrinfo(pList);
    if (hFound != kNoSocket)
        return hFound;
    error = NetConnectError(nLastErrno, strHost, nPort, nLimitMs);
    return kNoSocket;
}

void NetClose(NetHandle hSocket) {
    if (hSocket != kNoSocket)
        close(hSocket);
}

void NetShutdownSend(NetHandle hSocket) {
    shutdown(hSocket, SHUT_WR);
}

long NetSend(NetHandle hSocket, const void* pData, size_t nCount, int& nErrno) {
    // MSG_NOSIGNAL: a server that went away must fail the write, not end the program.
    const ssize_t nSent = send(hSocket, pData, nCount, MSG_NOSIGNAL);
    if (nSent >= 0)
        return nSent;
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
        return 0;
    nErrno = errno;
    return -1;
}

long NetReceive(NetHandle hSocket, void* pDest, size_t nMax, int& nErrno) {
    const ssize_t nRead = recv(hSocket, pDest, nMax, 0);
    if (nRead > 0)
        return nRead;
    if (nRead == 0) {
        nErrno = 0;
        return -1;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
        return 0;
    nErrno = errno;
    return -1;
}

int NetUnsent(NetHandle hSocket) {
    // Not yet sent, rather than not yet acknowledged: waiting for the acknowledgement would
    // add a round trip to every write on a distant link.
    int nQueued = 0;
    return ioctl(hSocket, SIOCOUTQNSD, &nQueued) == 0 ? nQueued : 0;
}

std::string NetDescribe(NetHandle hSocket) {
    int nBuffer = 0, nKeep = 0;
    socklen_t nLength = sizeof nBuffer;
    getsockopt(hSocket, SOL_SOCKET, SO_SNDBUF, &nBuffer, &nLength);
    nLength = sizeof nKeep;
    getsockopt(hSocket, SOL_SOCKET, SO_KEEPALIVE, &nKeep, &nLength);
    return "send buffer " + std::to_string(nBuffer) + " bytes, keepalive " + (nKeep ? "on" : "off");
}

CNetWaker::CNetWaker() {
    m_hRead = m_hWrite = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

CNetWaker::~CNetWaker() {
    if (m_hRead >= 0)
        close(m_hRead);
}

bool CNetWaker::IsValid() const {
    return m_hRead >= 0;
}

void CNetWaker::Signal() {
    const uint64_t nOne = 1;
    [[maybe_unused]] const ssize_t n = write(m_hWrite, &nOne, sizeof nOne);
}

void CNetWaker::Clear() {
    uint64_t nCount = 0;
    [[maybe_unused]] const ssize_t n = read(m_hRead, &nCount, sizeof nCount);
}

CNetWait CNetWait::Wait(NetHandle hSocket, bool bWritable, CNetWaker* pFirst, CNetWaker* pSecond,
                        int nMilliseconds) {
    pollfd fds[3] = {{hSocket, static_cast<short>(bWritable ? POLLOUT : POLLIN), 0},
                     {pFirst ? pFirst->m_hRead : -1, POLLIN, 0},
                     {pSecond ? pSecond->m_hRead : -1, POLLIN, 0}};
    CNetWait result;
    if (poll(fds, 3, nMilliseconds) <= 0)
        return result;
    result.m_bSocket = fds[0].revents != 0;
    result.m_bWaker[0] = fds[1].revents != 0;
    result.m_bWaker[1] = fds[2].revents != 0;
    return result;
}
