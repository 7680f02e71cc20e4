#pragma once
// The few socket calls a serial port reached over the network needs, the same on Linux (BSD
// sockets, NetSocket.cpp) and Windows (Winsock, NetSocketWin32.cpp): a connect with a time
// limit, sends and receives that never wait, and a wait on the connection that another thread
// can end. Every socket is non-blocking, and Nagle is off: the boot-mode upload sends one byte
// and waits for its echo 3,064 times, and each held byte would cost a round trip.
#include <cstddef>
#include <cstdint>
#include <string>

#ifdef _WIN32
using NetHandle = uintptr_t; // a SOCKET
#else
using NetHandle = int;
#endif
constexpr NetHandle kNoSocket = static_cast<NetHandle>(-1);

// A limited wait on a connection is cut into slices of this, so that its limit runs on the
// clock in force rather than on the system call's own.
constexpr int kSliceMs = 20;

// A link that dies without a FIN or an RST (a cable pulled at the server, a router gone) is
// found by the system rather than by the program's longest wait: an idle connection is probed
// after kKeepIdleS and given up after kKeepCount unanswered probes kKeepIntervalS apart, and
// bytes no acknowledgement comes back for fail the connection after kUnackedLimitMs. A server
// that holds the line by flow control still answers the probes of a full window, so a hold
// the write waits out is not cut short. The longest a dead server can hold a run so is about
// 25 s, wherever the program is waiting.
constexpr int kKeepIdleS = 10;
constexpr int kKeepIntervalS = 5;
constexpr int kKeepCount = 3;
constexpr int kUnackedLimitMs = 25000;

// The most data bytes a port on a server takes before the connection has sent them: as much as
// a local driver's output queue. Windows' send buffer is held to it too (NetSocketWin32.cpp).
constexpr size_t kNetSendBuffer = 4096;

// Why a connect failed: an errno (ETIMEDOUT, ECONNREFUSED ...; EHOSTUNREACH when the name
// was not found) and the words to show, which name the host.
struct CNetError {
    int m_nErrno = 0;
    std::string m_strText;
};

// The words of a connect that failed with nErrno (ETIMEDOUT after nLimitMs, ECONNREFUSED ...),
// naming the host as given; the same on both systems.
CNetError NetConnectError(int nErrno, const std::string& strHost, uint16_t nPort, int nLimitMs);
// A name that could not be looked up; strDetail is the resolver's reason where it gives one.
CNetError NetLookupError(const std::string& strHost, const std::string& strDetail);

// Looks strHost up and connects to nPort, giving up after nLimitMs on the clock in force.
// kNoSocket and the error when it could not.
NetHandle NetConnect(const std::string& strHost, uint16_t nPort, int nLimitMs, CNetError& error);
void NetClose(NetHandle hSocket);
// Tells the peer that nothing more will come (a FIN), so that it ends its side in turn.
void NetShutdownSend(NetHandle hSocket);

// Bytes taken by the connection (0 when it takes none now), or -1 with nErrno when it broke.
long NetSend(NetHandle hSocket, const void* pData, size_t nCount, int& nErrno);
// Bytes received (0 when none is waiting), or -1 when the peer closed (nErrno 0) or the
// connection broke (nErrno).
long NetReceive(NetHandle hSocket, void* pDest, size_t nMax, int& nErrno);
// Bytes the system has not sent yet (0 where it cannot tell).
int NetUnsent(NetHandle hSocket);
// What the system gave the connection, for the trace: "send buffer 8192 bytes, keepalive on".
// On Windows it is what shows a held write can stay in this computer.
std::string NetDescribe(NetHandle hSocket);

// Something a wait ends on, signalled from another thread (an eventfd; on Windows a loopback
// datagram socket, since only sockets can be waited on together with a socket).
class CNetWaker {
public:
    CNetWaker();
    ~CNetWaker();
    CNetWaker(const CNetWaker&) = delete;
    CNetWaker& operator=(const CNetWaker&) = delete;
    bool IsValid() const;
    void Signal();
    void Clear();

private:
    friend struct CNetWait;
    NetHandle m_hRead = kNoSocket;
    NetHandle m_hWrite = kNoSocket;
};

// Waits up to nMilliseconds (-1: no limit) until the socket is readable (or writable, with
// bWritable), broken, or one of the wakers is signalled.
struct CNetWait {
    bool m_bSocket = false; // readable, writable as asked, or broken: the next call will say
    bool m_bWaker[2] = {false, false};
    static CNetWait Wait(NetHandle hSocket, bool bWritable, CNetWaker* pFirst, CNetWaker* pSecond,
                         int nMilliseconds);
};
