#include "ports/NetSocket.h"

#include "platform/Win32Api.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "platform/Clock.h"

namespace {

// Winsock is started once for the process and stays until it ends.
bool StartWinsock() {
    static std::once_flag s_once;
    static bool s_bStarted = false;
    std::call_once(s_once, [] {
        WSADATA data;
        s_bStarted = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    });
    return s_bStarted;
}

// The errno whose words the program already uses for a Winsock error.
int ErrnoOf(int nError) {
    switch (nError) {
    case WSAECONNREFUSED:
        return ECONNREFUSED;
    case WSAECONNRESET:
    case WSAECONNABORTED:
        return ECONNRESET;
    case WSAETIMEDOUT:
        return ETIMEDOUT;
    case WSAEHOSTUNREACH:
    case WSAENETUNREACH:
        return EHOSTUNREACH;
    case WSAEMFILE:
    case WSAENOBUFS:
        return EMFILE;
    default:
        return EIO;
    }
}

// Probes of an idle connection, and a limit on bytes never acknowledged (see NetSocket.h).
void KeepAlive(SOCKET h) {
    tcp_keepalive values{1, kKeepIdleS * 1000u, kKeepIntervalS * 1000u};
    DWORD nReturned = 0;
    WSAIoctl(h, SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &nReturned, nullptr,
             nullptr);
    // TCP_MAXRT (Windows 10), not in every SDK's headers: the same bound on retransmission.
    constexpr int kMaxRt = 5;
    const DWORD nSeconds = (kUnackedLimitMs + 999) / 1000;
    setsockopt(h, IPPROTO_TCP, kMaxRt, reinterpret_cast<const char*>(&nSeconds), sizeof nSeconds);
}

// Winsock cannot say how much of what it took is still unsent, and by default it takes 64 KB
// and more: a write would count as done while the machine holds the line at the server, and
// the close would end the connection with the tail still in this computer. A send buffer no
// larger than the port's own output queue keeps the bytes in the port's queue instead, where
// OutputQueued counts them and a write that cannot move them is held.
void LimitSendBuffer(SOCKET h) {
    const int nBytes = kNetSendBuffer;
    setsockopt(h, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&nBytes), sizeof nBytes);
}

bool SetNonBlocking(SOCKET h) {
    u_long nOn = 1;
    return ioctlsocket(h, FIONBIO, &nOn) == 0;
}

} // namespace

NetHandle NetConnect(const std::string& strHost, uint16_t nPort, int nLimitMs, CNetError& error) {
    error = CNetError();
    if (!StartWinsock()) {
        error.m_nErrno = EIO;
        error.m_strText = "the network is not available (WSAStartup failed)";
        return kNoSocket;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* pList = nullptr;
    const std::string strService = std::to_string(nPort);
    if (getaddrinfo(strHost.c_str(), strService.c_str(), &hints, &pList) != 0) {
        error = NetLookupError(strHost, {});
        return kNoSocket;
    }
    const int64_t nDeadline = GetClock().GetMilliseconds() + nLimitMs;
    int nLastErrno = ETIMEDOUT;
    NetHandle hFound = kNoSocket;
    for (addrinfo* p = pList; p && hFound == kNoSocket; p = p->ai_next) {
        const SOCKET h = socket(p->ai_family, p->ai_socktype, p->ai_protocol);
        if (h == INVALID_SOCKET || !SetNonBlocking(h)) {
            nLastErrno = ErrnoOf(WSAGetLastError());
            if (h != INVALID_SOCKET)
                closesocket(h);
            continue;
        }
        bool bConnected = connect(h, p->ai_addr, static_cast<int>(p->ai_addrlen)) == 0;
        int nErrno = ETIMEDOUT;
        if (!bConnected && WSAGetLastError() == WSAEWOULDBLOCK) {
            for (;;) {
                const int64_t nLeft = nDeadline - GetClock().GetMilliseconds();
                if (nLeft <= 0)
                    break;
                // A failed connect shows in the except set on Windows, not as writable.
                fd_set writable, failed;
                FD_ZERO(&writable);
                FD_ZERO(&failed);
                FD_SET(h, &writable);
                FD_SET(h, &failed);
                const long nSlice = static_cast<long>(std::min<int64_t>(nLeft, kSliceMs));
                timeval tv{0, nSlice * 1000};
                if (select(0, nullptr, &writable, &failed, &tv) > 0) {
                    int nError = 0;
                    int nLength = sizeof nError;
                    getsockopt(h, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&nError), &nLength);
                    bConnected = FD_ISSET(h, &writable) && nError == 0;
                    nErrno = bConnected ? 0 : ErrnoOf(nError ? nError : WSAECONNREFUSED);
                    break;
                }
            }
        } else if (!bConnected) {
            nErrno = ErrnoOf(WSAGetLastError());
        }
        if (bConnected) {
            const BOOL bOn = TRUE;
            setsockopt(h, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&bOn),
                       sizeof bOn);
            KeepAlive(h);
            LimitSendBuffer(h);
            hFound = static_cast<NetHandle>(h);
        } else {
            nLastErrno = nErrno;
            closesocket(h);
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
        closesocket(static_cast<SOCKET>(hSocket));
}

void NetShutdownSend(NetHandle hSocket) {
    shutdown(static_cast<SOCKET>(hSocket), SD_SEND);
}

long NetSend(NetHandle hSocket, const void* pData, size_t nCount, int& nErrno) {
    const int nSent = send(static_cast<SOCKET>(hSocket), static_cast<const char*>(pData),
                           static_cast<int>(std::min<size_t>(nCount, 1 << 20)), 0);
    if (nSent >= 0)
        return nSent;
    const int nError = WSAGetLastError();
    if (nError == WSAEWOULDBLOCK || nError == WSAEINTR)
        return 0;
    nErrno = ErrnoOf(nError);
    return -1;
}

long NetReceive(NetHandle hSocket, void* pDest, size_t nMax, int& nErrno) {
    const int nRead = recv(static_cast<SOCKET>(hSocket), static_cast<char*>(pDest),
                           static_cast<int>(std::min<size_t>(nMax, 1 << 20)), 0);
    if (nRead > 0)
        return nRead;
    if (nRead == 0) {
        nErrno = 0;
        return -1;
    }
    const int nError = WSAGetLastError();
    if (nError == WSAEWOULDBLOCK || nError == WSAEINTR)
        return 0;
    nErrno = ErrnoOf(nError);
    return -1;
}

int NetUnsent(NetHandle) {
    return 0;
}

std::string NetDescribe(NetHandle hSocket) {
    // Zero first: wine writes a BOOL option's one byte only.
    int nBuffer = 0, nKeep = 0;
    int nLength = sizeof nBuffer;
    getsockopt(static_cast<SOCKET>(hSocket), SOL_SOCKET, SO_SNDBUF,
               reinterpret_cast<char*>(&nBuffer), &nLength);
    nLength = sizeof nKeep;
    getsockopt(static_cast<SOCKET>(hSocket), SOL_SOCKET, SO_KEEPALIVE,
               reinterpret_cast<char*>(&nKeep), &nLength);
    return "send buffer " + std::to_string(nBuffer) + " bytes, keepalive " + (nKeep ? "on" : "off");
}

// Only sockets can be waited on together with a socket: a datagram socket bound to the
// loopback and connected to itself, which a byte sent to itself makes readable.
CNetWaker::CNetWaker() {
    if (!StartWinsock())
        return;
    const SOCKET h = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (h == INVALID_SOCKET)
        return;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int nLength = sizeof addr;
    if (bind(h, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        getsockname(h, reinterpret_cast<sockaddr*>(&addr), &nLength) != 0 ||
        connect(h, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || !SetNonBlocking(h)) {
        closesocket(h);
        return;
    }
    m_hRead = m_hWrite = static_cast<NetHandle>(h);
}

CNetWaker::~CNetWaker() {
    if (m_hRead != kNoSocket)
        closesocket(static_cast<SOCKET>(m_hRead));
}

bool CNetWaker::IsValid() const {
    return m_hRead != kNoSocket;
}

void CNetWaker::Signal() {
    const char c = 1;
    send(static_cast<SOCKET>(m_hWrite), &c, 1, 0);
}

void CNetWaker::Clear() {
    char buffer[64];
    while (recv(static_cast<SOCKET>(m_hRead), buffer, sizeof buffer, 0) > 0) {
    }
}

CNetWait CNetWait::Wait(NetHandle hSocket, bool bWritable, CNetWaker* pFirst, CNetWaker* pSecond,
                        int nMilliseconds) {
    fd_set readable, writable, failed;
    FD_ZERO(&readable);
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    const SOCKET h = static_cast<SOCKET>(hSocket);
    FD_SET(h, bWritable ? &writable : &readable);
    FD_SET(h, &failed);
    if (pFirst && pFirst->IsValid())
        FD_SET(static_cast<SOCKET>(pFirst->m_hRead), &readable);
    if (pSecond && pSecond->IsValid())
        FD_SET(static_cast<SOCKET>(pSecond->m_hRead), &readable);
    timeval tv{nMilliseconds / 1000, (nMilliseconds % 1000) * 1000};
    CNetWait result;
    if (select(0, &readable, &writable, &failed, nMilliseconds < 0 ? nullptr : &tv) <= 0)
        return result;
    result.m_bSocket = FD_ISSET(h, &readable) || FD_ISSET(h, &writable) || FD_ISSET(h, &failed);
    result.m_bWaker[0] =
        pFirst && pFirst->IsValid() && FD_ISSET(static_cast<SOCKET>(pFirst->m_hRead), &readable);
    result.m_bWaker[1] =
        pSecond && pSecond->IsValid() && FD_ISSET(static_cast<SOCKET>(pSecond->m_hRead), &readable);
    return result;
}
