#include "ports/NetSerialDevice.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <deque>
#include <functional>
#include <iterator>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

#include "platform/Clock.h"
#include "ports/NetSocket.h"
#include "ports/TelnetCodec.h"

using namespace telnet;

namespace {

constexpr char kScheme[] = "rfc2217://";
// Data bytes the device takes before the server has them; a local driver's output queue
// holds as much.
constexpr size_t kOutputCap = kNetSendBuffer;
// Commands still unsent when the port closes get this long to leave.
constexpr int kCloseFlushMs = 500;
// How long the server gets to end the connection after the program has ended its side.
constexpr int kCloseWaitMs = 1000;
// The wait for data looks at what it waits for again this often, whatever the wakers say: a
// waker's datagram that never arrives then delays a close or a byte by this much, not for ever.
constexpr int kEventSliceMs = 100;
// The pause before a connection that was turned away is tried again.
constexpr int kRetryMs = 50;
// The modem state bits the program reads, with their change bits.
constexpr uint8_t kModemMask = kModemDsr | kModemCts | 0x02 | 0x01;
// Data from the server the program has not taken yet, at most; a server that sends more while
// the program is busy with settings is broken or hostile, and the port fails rather than grow.
constexpr size_t kReceivedCap = 256 * 1024;
// Telnet negotiations a connection may carry. Each option is answered once per change, so a
// well-behaved server sends a handful; one that keeps on changing its mind is cut off.
constexpr unsigned kNegotiationCap = 200;

std::mutex g_serversMutex;
std::set<std::string> g_serversWithoutLines;

bool IsKnownWithoutLines(const std::string& strWhere) {
    std::lock_guard lock(g_serversMutex);
    return g_serversWithoutLines.count(strWhere) != 0;
}

void RememberWithoutLines(const std::string& strWhere) {
    std::lock_guard lock(g_serversMutex);
    g_serversWithoutLines.insert(strWhere);
}

// The settings of the line as the COM port option numbers them.
uint8_t ParityCode(int nParity) {
    return static_cast<uint8_t>(std::clamp(nParity, 0, 3) + 1); // none, odd, even, mark
}

int ParityOf(uint32_t nCode) {
    return nCode >= 1 && nCode <= 4 ? static_cast<int>(nCode) - 1 : 4 + static_cast<int>(nCode);
}

uint8_t FlowCode(const CLineSettings& s) {
    if (s.m_bCtsFlow)
        return kControlFlowHardware;
    return s.m_bXonXoff ? kControlFlowXonXoff : kControlFlowNone;
}

bool IsFlowAnswer(uint32_t nValue) {
    return nValue <= 3 || (nValue >= 17 && nValue <= 19);
}

bool IsLineAnswer(uint32_t nValue) {
    return nValue >= 7 && nValue <= 12; // DTR and RTS
}

// Which answer a setting waits for.
enum EAnswer { kAnsBaud, kAnsDataSize, kAnsParity, kAnsStopSize, kAnsFlow, kAnsCount };

} // namespace

// Both systems build this file; the socket files differ by system, their words do not.
CNetError NetConnectError(int nErrno, const std::string& strHost, uint16_t nPort, int nLimitMs) {
    const std::string strWhere = strHost + ":" + std::to_string(nPort);
    CNetError error;
    error.m_nErrno = nErrno;
    if (nErrno == ETIMEDOUT)
        error.m_strText = "no connection to " + strWhere + " within " +
                          std::to_string((nLimitMs + 999) / 1000) + " s";
    else if (nErrno == ECONNREFUSED)
        error.m_strText = "connection refused by " + strWhere;
    else
        error.m_strText = "cannot connect to " + strWhere + ": " + std::strerror(nErrno);
    return error;
}

CNetError NetLookupError(const std::string& strHost, const std::string& strDetail) {
    CNetError error;
    error.m_nErrno = EHOSTUNREACH;
    error.m_strText =
        "host not found: " + strHost + (strDetail.empty() ? "" : " (" + strDetail + ")");
    return error;
}

bool IsNetworkPortName(const std::string& strName) {
    if (strName.size() < sizeof kScheme - 1)
        return false;
    for (size_t i = 0; i + 1 < sizeof kScheme; ++i) {
        if (std::tolower(static_cast<unsigned char>(strName[i])) != kScheme[i])
            return false;
    }
    return true;
}

bool ParseNetworkPortName(const std::string& strName, std::string& strHost, uint16_t& nPort) {
    if (!IsNetworkPortName(strName))
        return false;
    std::string strRest = strName.substr(sizeof kScheme - 1);
    if (!strRest.empty() && strRest.back() == '/')
        strRest.pop_back();
    size_t nColon = 0;
    std::string strHostPart;
    if (!strRest.empty() && strRest[0] == '[') {
        const size_t nClose = strRest.find(']');
        if (nClose == std::string::npos || nClose + 1 >= strRest.size() ||
            strRest[nClose + 1] != ':')
            return false;
        strHostPart = strRest.substr(1, nClose - 1);
        nColon = nClose + 1;
        if (strHostPart.empty() ||
            strHostPart.find_first_not_of("0123456789abcdefABCDEF:.") != std::string::npos)
            return false;
    } else {
        nColon = strRest.rfind(':');
        if (nColon == std::string::npos || nColon == 0)
            return false;
        strHostPart = strRest.substr(0, nColon);
        for (unsigned char c : strHostPart) {
            if (!std::isalnum(c) && c != '.' && c != '-' && c != '_')
                return false;
        }
    }
    const std::string strPort = strRest.substr(nColon + 1);
    if (strPort.empty() || strPort.size() > 5 ||
        strPort.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const unsigned long nValue = std::stoul(strPort);
    if (nValue == 0 || nValue > 65535)
        return false;
    strHost = strHostPart;
    nPort = static_cast<uint16_t>(nValue);
    return true;
}

std::string NormalNetworkPortName(const std::string& strName) {
    std::string strHost;
    uint16_t nPort = 0;
    if (!ParseNetworkPortName(strName, strHost, nPort))
        return strName;
    // Host names and IPv6 digits are the same in any case.
    std::transform(strHost.begin(), strHost.end(), strHost.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (strHost.find(':') != std::string::npos)
        strHost = "[" + strHost + "]";
    return kScheme + strHost + ":" + std::to_string(nPort);
}

struct CNetSerialDevice::CState {
    CLimits limits;
    NetHandle hSocket = kNoSocket;
    std::string strWhere; // host:port, for every word a person reads
    std::string strHost;
    uint16_t nPort = 0;
    int64_t nRetryUntilMs = 0;           // a connection turned away is tried again until then
    CNetWaker wake;                      // Wake()
    std::atomic<bool> bWakeAsked{false}; // the same, for a wait whose datagram went missing
    CNetWaker pending;                   // data taken off the connection outside ReadAvailable

    // Everything below is shared by the caller's thread and the receive thread.
    mutable std::mutex mutex;
    CTelnetDecoder decoder;
    std::deque<uint8_t> received; // data decoded while waiting for an answer
    std::vector<uint8_t> out;     // bytes for the server, 0xFF doubled, not yet sent
    bool bGone = false;
    bool bRefused = false; // ended by the program for the server's fault: not tried again
    // Data have been written on this connection: if the server closes it now, the line broke,
    // and no reconnect may hide that (a connection closed before any data was only turned away).
    bool bUsed = false;
    std::string strCause;
    std::string strNotes;

    // Option states: ours (WILL) and the server's (DO), with what we have asked for.
    enum class EOpt { No, Asked, Yes, Refused };
    EOpt usComPort = EOpt::No;
    EOpt usBinary = EOpt::No;
    EOpt himBinary = EOpt::No;
    bool bSgaUs = false;
    bool bSgaHim = false;

    // The values the server last answered (its read-back), and how many answers of each kind
    // have come since the connection began.
    bool bKnown[kAnsCount] = {};
    uint32_t nValue[kAnsCount] = {};
    unsigned nAnswers[kAnsCount] = {};
    bool bModemAnswered = false; // any modem-control request answered
    bool bWithoutLines = false;
    int nModemState = -1; // -1: not told
    int nDtr = -1;        // what was last asked: -1 nothing yet
    unsigned nNegotiations = 0;
    uint8_t answeredOnce[32] = {}; // options refused once, never again

    // Timing marks: the server answers each once it has read everything sent before it. The
    // one asked with the greeting tells whether it answers marks at all.
    unsigned nMarksAsked = 0;
    unsigned nMarksAnswered = 0;
    bool bMarks = false;
    // What the server tells of its line and its buffer.
    int nLineState = -1;
    unsigned nLineStates = 0; // notifications so far
    bool bSuspended = false;  // FLOWCONTROL-SUSPEND without a RESUME since
    bool bCtsFlow = false;    // the line as last applied
    double dBytesPerMs = 0;   // the line's speed, 0 until a setting was answered
    // How far the sending ran ahead of the line: the bytes the line cannot have carried yet
    // had it taken every byte at its full speed since it was handed over.
    double dLead = 0;
    int64_t nLeadAtMs = 0;
    // The close's wait for the line: the mark it sent, when that was answered, and the
    // notifications counted then.
    unsigned nCloseMark = 0;
    int64_t nMarkAnsweredAtMs = -1;
    unsigned nLineStatesAtMark = 0;
    bool bDataSinceClose = false;  // data written since the last delivery was judged
    size_t nLeftBefore = SIZE_MAX; // bytes not yet sent at the close's last look

    // A fresh connection knows nothing of the last one's settings or lines.
    void Reset() {
        std::lock_guard lock(mutex);
        decoder.Reset();
        received.clear();
        out.clear();
        bGone = bRefused = bUsed = false;
        strCause.clear();
        strNotes.clear();
        usComPort = usBinary = himBinary = EOpt::No;
        bSgaUs = bSgaHim = false;
        std::fill(std::begin(bKnown), std::end(bKnown), false);
        std::fill(std::begin(nValue), std::end(nValue), 0u);
        std::fill(std::begin(nAnswers), std::end(nAnswers), 0u);
        bModemAnswered = bWithoutLines = false;
        nModemState = nDtr = -1;
        nNegotiations = 0;
        std::fill(std::begin(answeredOnce), std::end(answeredOnce), uint8_t{0});
        nMarksAsked = nMarksAnswered = 0;
        bMarks = false;
        nLineState = -1;
        nLineStates = 0;
        bSuspended = bCtsFlow = false;
        dBytesPerMs = dLead = 0;
        nLeadAtMs = 0;
        nCloseMark = 0;
        nMarkAnsweredAtMs = -1;
        nLineStatesAtMark = 0;
        bDataSinceClose = false;
        nLeftBefore = SIZE_MAX;
        wake.Clear();
        pending.Clear();
    }

    void Note(const std::string& strText) { strNotes += (strNotes.empty() ? "" : "; ") + strText; }
    // The connection is ended by the program for a fault of the server's: the port is gone with
    // the reason, as if the server had closed it.
    void Refuse(const std::string& strWhy) {
        if (bGone)
            return;
        bGone = bRefused = true;
        strCause = strWhere + " " + strWhy;
    }
    // The line's backlog now: what was handed over less what the line can have carried since.
    double LeadNow(int64_t nNowMs) const {
        return std::max(0.0, dLead - double(nNowMs - nLeadAtMs) * dBytesPerMs);
    }
    void SetGone(int nErrno) {
        if (bGone)
            return;
        bGone = true;
        if (nErrno == 0)
            strCause = "the server closed the connection (" + strWhere + ")";
        else if (nErrno == ECONNRESET)
            strCause = "the server reset the connection (" + strWhere + ")";
        else
            strCause = "the connection to " + strWhere + " broke: " + std::strerror(nErrno);
    }

    // Sends what is queued as far as the connection takes it now. Locked.
    void Flush() {
        while (!out.empty() && !bGone) {
            int nErrno = 0;
            const long nSent = NetSend(hSocket, out.data(), out.size(), nErrno);
            if (nSent < 0) {
                SetGone(nErrno);
                return;
            }
            if (nSent == 0)
                return;
            out.erase(out.begin(), out.begin() + nSent);
        }
    }

    void HandleNegotiation(const CTelnetCommand& c) {
        if (c.m_nVerb < kWill || c.m_nVerb > kDont)
            return; // NOP, go-ahead and the like carry nothing for a serial line
        if (++nNegotiations > kNegotiationCap) {
            Refuse("kept changing its Telnet options (" + std::to_string(kNegotiationCap) +
                   " negotiations): not a serial port server the program can use");
            return;
        }
        if (c.m_nOption == kOptTimingMark && (c.m_nVerb == kWill || c.m_nVerb == kWont)) {
            // The answer to a mark: never answered again, or the two sides would echo it.
            if (nMarksAnswered < nMarksAsked)
                ++nMarksAnswered;
            bMarks = true;
            // What the server tells of its line from here on, it tells after reading the last
            // byte.
            if (nCloseMark != 0 && nMarksAnswered == nCloseMark)
                nLineStatesAtMark = nLineStates;
            return;
        }
        auto reply = [&](uint8_t nVerb) { AppendNegotiation(nVerb, c.m_nOption, out); };
        // An option the program does not know is refused once; a server that asks again and
        // again is not answered again and again.
        auto refuseOnce = [&](uint8_t nVerb) {
            uint8_t& nBits = answeredOnce[c.m_nOption / 8];
            const uint8_t nBit = static_cast<uint8_t>(1u << (c.m_nOption % 8));
            if (!(nBits & nBit))
                reply(nVerb);
            nBits |= nBit;
        };
        // Both sides in binary: a loader's bytes must pass as they are, carriage returns too.
        const bool bOurs = c.m_nOption == kOptBinary || c.m_nOption == kOptComPort;
        EOpt* pUs = c.m_nOption == kOptBinary    ? &usBinary
                    : c.m_nOption == kOptComPort ? &usComPort
                                                 : nullptr;
        switch (c.m_nVerb) {
        case kDo:
            if (pUs) {
                if (*pUs != EOpt::Asked && *pUs != EOpt::Yes)
                    reply(kWill);
                *pUs = EOpt::Yes;
            } else if (c.m_nOption == kOptSuppressGoAhead) {
                // Go-aheads mean nothing on a serial line; agreed once, not again.
                if (!bSgaUs)
                    reply(kWill);
                bSgaUs = true;
            } else {
                refuseOnce(kWont);
            }
            break;
        case kDont:
            // Only a change is answered (RFC 854): an option that is off stays silent, so two
            // sides can never answer each other for ever.
            if (pUs) {
                if (*pUs == EOpt::Yes)
                    reply(kWont);
                *pUs = EOpt::Refused;
            }
            break;
        case kWill:
            if (c.m_nOption == kOptBinary) {
                if (himBinary != EOpt::Asked && himBinary != EOpt::Yes)
                    reply(kDo);
                himBinary = EOpt::Yes;
            } else if (c.m_nOption == kOptSuppressGoAhead) {
                if (!bSgaHim)
                    reply(kDo);
                bSgaHim = true;
            } else if (!bOurs) {
                refuseOnce(kDont);
            }
            break;
        case kWont:
            if (c.m_nOption == kOptBinary) {
                if (himBinary == EOpt::Yes)
                    reply(kDont);
                himBinary = EOpt::Refused;
            }
            break;
        default:
            break;
        }
    }

    void HandleAnswer(const CComAnswer& a) {
        int nKind = -1;
        switch (a.m_nCommand) {
        case kComSetBaud:
            nKind = kAnsBaud;
            break;
        case kComSetDataSize:
            nKind = kAnsDataSize;
            break;
        case kComSetParity:
            nKind = kAnsParity;
            break;
        case kComSetStopSize:
            nKind = kAnsStopSize;
            break;
        case kComSetControl:
            if (IsFlowAnswer(a.m_nValue))
                nKind = kAnsFlow;
            else if (IsLineAnswer(a.m_nValue))
                AnswerModem();
            break;
        case kComSetModemStateMask:
            AnswerModem();
            break;
        case kComNotifyModemState:
            // Not an answer: ser2net in front of a pseudo-terminal tells every line low
            // without answering a single modem-control request.
            nModemState = static_cast<int>(a.m_nValue);
            break;
        case kComNotifyLineState:
            nLineState = static_cast<int>(a.m_nValue);
            ++nLineStates;
            break;
        case kComFlowSuspend:
            bSuspended = true;
            break;
        case kComFlowResume:
            bSuspended = false;
            break;
        default:
            break;
        }
        if (nKind >= 0) {
            bKnown[nKind] = true;
            nValue[nKind] = a.m_nValue;
            ++nAnswers[nKind];
        }
    }

    void AnswerModem() {
        if (!bModemAnswered && bWithoutLines)
            Note("the server answered a modem-control request late: its modem lines count");
        bModemAnswered = true;
        bWithoutLines = false;
    }

    // Decodes bytes from the server: commands are acted on, data appended to data. Locked.
    void Take(const uint8_t* pBytes, size_t nCount, std::vector<uint8_t>& data) {
        std::vector<CTelnetCommand> commands;
        decoder.Feed(pBytes, nCount, data, commands);
        for (const CTelnetCommand& c : commands) {
            CComAnswer answer;
            if (c.m_nVerb != kSb)
                HandleNegotiation(c);
            else if (DecodeComAnswer(c, answer))
                HandleAnswer(answer);
        }
        if (!commands.empty())
            Flush();
    }

    // Takes whatever the connection holds now; data go to the received queue. Locked.
    void Pump() {
        uint8_t raw[1024];
        for (int n = 0; n < 64 && !bGone; ++n) {
            int nErrno = 0;
            const long nRead = NetReceive(hSocket, raw, sizeof raw, nErrno);
            if (nRead < 0) {
                SetGone(nErrno);
                break;
            }
            if (nRead == 0)
                break;
            std::vector<uint8_t> data;
            Take(raw, static_cast<size_t>(nRead), data);
            if (received.size() + data.size() > kReceivedCap) {
                Refuse("sent more than " + std::to_string(kReceivedCap / 1024) +
                       " KB the program had not asked for");
                received.clear();
                pending.Signal();
                break;
            }
            if (!data.empty()) {
                received.insert(received.end(), data.begin(), data.end());
                pending.Signal();
            }
        }
    }

    // Takes from the connection until fnDone holds, the connection breaks or nLimitMs pass.
    bool PumpUntil(const std::function<bool()>& fnDone, int nLimitMs) {
        const int64_t nDeadline = GetClock().GetMilliseconds() + nLimitMs;
        for (;;) {
            {
                std::lock_guard lock(mutex);
                Flush();
                Pump();
                if (fnDone())
                    return true;
                if (bGone)
                    return false;
            }
            const int64_t nLeft = nDeadline - GetClock().GetMilliseconds();
            if (nLeft <= 0)
                return false;
            CNetWait::Wait(hSocket, false, nullptr, nullptr,
                           static_cast<int>(std::min<int64_t>(nLeft, kSliceMs)));
        }
    }

    // Connects and agrees on the COM port option. 0, or the errno with the cause in words; the
    // connection is closed again on failure.
    int Connect() {
        CNetError error;
        hSocket = NetConnect(strHost, nPort, limits.m_nConnectMs, error);
        if (hSocket == kNoSocket) {
            strCause = error.m_strText;
            return error.m_nErrno;
        }
        std::vector<uint8_t> hello;
        AppendNegotiation(kWill, kOptBinary, hello);
        AppendNegotiation(kDo, kOptBinary, hello);
        AppendNegotiation(kWill, kOptComPort, hello);
        // A mark behind the greeting: a server that answers it will answer the close's too.
        AppendNegotiation(kDo, kOptTimingMark, hello);
        {
            std::lock_guard lock(mutex);
            usBinary = himBinary = usComPort = EOpt::Asked;
            nMarksAsked = 1;
        }
        Send(hello);
        auto settled = [](EOpt e) { return e == EOpt::Yes || e == EOpt::Refused; };
        // Binary both ways matters as much as the option itself: in plain Telnet a server may
        // turn CR NUL into CR and CR LF into a newline of its own, and nothing would notice
        // the package altered.
        const bool bAgreed = PumpUntil(
            [&] {
                return usComPort == EOpt::Refused ||
                       (settled(usComPort) && settled(usBinary) && settled(himBinary));
            },
            limits.m_nNegotiationMs);
        auto fail = [&](int nErrno, const std::string& strText) {
            NetClose(hSocket);
            hSocket = kNoSocket;
            strCause = strText;
            return nErrno;
        };
        if (!bAgreed && bGone) {
            // A server whose port is taken often says so before it closes.
            std::string strSaid(received.begin(), received.end());
            strSaid.erase(std::remove_if(strSaid.begin(), strSaid.end(),
                                         [](unsigned char c) { return c < 0x20 || c > 0x7E; }),
                          strSaid.end());
            return fail(ECONNRESET, strWhere +
                                        " closed the connection before it agreed to "
                                        "RFC 2217" +
                                        (strSaid.empty() ? "" : ": \"" + strSaid + "\""));
        }
        if (!bAgreed)
            return fail(ETIMEDOUT, "no RFC 2217 negotiation from " + strWhere + " within " +
                                       std::to_string((limits.m_nNegotiationMs + 999) / 1000) +
                                       " s");
        if (usComPort == EOpt::Refused)
            return fail(EPROTONOSUPPORT, strWhere + " refused the COM port option: it is no "
                                                    "RFC 2217 server (a raw TCP or plain Telnet "
                                                    "port?)");
        if (usBinary != EOpt::Yes || himBinary != EOpt::Yes)
            return fail(EPROTONOSUPPORT,
                        strWhere + " refused binary transmission (" +
                            (usBinary != EOpt::Yes ? "from this computer" : "to this computer") +
                            "): carriage returns could be altered on the way, so the port "
                            "is not used");
        {
            std::lock_guard lock(mutex);
            Note("connection to " + strWhere + ": " + NetDescribe(hSocket));
        }
        std::vector<uint8_t> mask;
        AppendComCommand(kComSetModemStateMask, {kModemMask}, mask);
        // A server that tells its UART's state lets the close know the last byte is out.
        AppendComCommand(kComSetLineStateMask, {kLineShiftEmpty | kLineHoldEmpty}, mask);
        Send(mask);
        return 0;
    }

    // ser2net turns a connection away while it is still ending the last one on the same port,
    // as it does when the program closes a port and opens it again at once (the loader's 9600
    // and the package's 38400): such a connection is tried again within the connect limit.
    int ConnectRetrying() {
        for (;;) {
            const int nErrno = Connect();
            if (nErrno != ECONNRESET || GetClock().GetMilliseconds() >= nRetryUntilMs)
                return nErrno;
            GetClock().Sleep(kRetryMs);
            Reset();
        }
    }

    // The server closed a connection that has carried no data yet: turned away, not broken.
    // -1 when it was not; else the new connection's result, 0 or the errno with its cause.
    int ReconnectIfTurnedAway() {
        {
            std::lock_guard lock(mutex);
            if (!bGone || bUsed || bRefused || GetClock().GetMilliseconds() >= nRetryUntilMs)
                return -1;
        }
        NetClose(hSocket);
        hSocket = kNoSocket;
        GetClock().Sleep(kRetryMs);
        Reset();
        return ConnectRetrying();
    }

    void Send(const std::vector<uint8_t>& bytes) {
        std::lock_guard lock(mutex);
        out.insert(out.end(), bytes.begin(), bytes.end());
        Flush();
    }
};

CNetSerialDevice::CNetSerialDevice() : CNetSerialDevice(CLimits()) {}

CNetSerialDevice::CNetSerialDevice(const CLimits& limits) : m_pState(std::make_unique<CState>()) {
    m_pState->limits = limits;
}

CNetSerialDevice::~CNetSerialDevice() {
    Close();
}

void CNetSerialDevice::ForgetServers() {
    std::lock_guard lock(g_serversMutex);
    g_serversWithoutLines.clear();
}

int CNetSerialDevice::Open(const std::string& strPath) {
    CState& s = *m_pState;
    if (s.hSocket != kNoSocket)
        return EBUSY;
    s.Reset();
    if (!ParseNetworkPortName(strPath, s.strHost, s.nPort)) {
        s.strCause = "not a network port name: " + strPath + " (rfc2217://host:port)";
        return EINVAL;
    }
    s.strWhere = (s.strHost.find(':') != std::string::npos ? "[" + s.strHost + "]" : s.strHost) +
                 ":" + std::to_string(s.nPort);
    if (!s.wake.IsValid() || !s.pending.IsValid())
        return EMFILE;
    s.nRetryUntilMs = GetClock().GetMilliseconds() + s.limits.m_nConnectMs;
    return s.ConnectRetrying();
}

void CNetSerialDevice::Close() {
    CState& s = *m_pState;
    if (s.hSocket == kNoSocket)
        return;
    // The last commands (DTR off, the purge) are on their way before the connection ends.
    const int64_t nDeadline = GetClock().GetMilliseconds() + kCloseFlushMs;
    for (;;) {
        {
            std::lock_guard lock(s.mutex);
            s.Flush();
            if (s.out.empty() || s.bGone)
                break;
        }
        const int64_t nLeft = nDeadline - GetClock().GetMilliseconds();
        if (nLeft <= 0)
            break;
        CNetWait::Wait(s.hSocket, true, nullptr, nullptr,
                       static_cast<int>(std::min<int64_t>(nLeft, kSliceMs)));
    }
    // The server has let go of its port once it has ended the connection too; a port opened
    // again at once then finds it free.
    NetShutdownSend(s.hSocket);
    s.PumpUntil([&] { return s.bGone; }, kCloseWaitMs);
    std::lock_guard lock(s.mutex);
    NetClose(s.hSocket);
    s.hSocket = kNoSocket;
    s.received.clear();
}

bool CNetSerialDevice::IsOpen() const {
    return m_pState->hSocket != kNoSocket;
}

int CNetSerialDevice::Apply(const CLineSettings& settings, CLineSettings& applied) {
    CState& s = *m_pState;
    struct CAsk {
        EAnswer m_eKind;
        uint8_t m_nCommand;
        std::vector<uint8_t> m_value;
        uint32_t m_nWanted;
    };
    const uint32_t nBaud = settings.m_nBaud;
    const CAsk asks[] = {
        {kAnsBaud,
         kComSetBaud,
         {uint8_t(nBaud >> 24), uint8_t(nBaud >> 16), uint8_t(nBaud >> 8), uint8_t(nBaud)},
         nBaud},
        {kAnsDataSize,
         kComSetDataSize,
         {uint8_t(settings.m_nDataBits)},
         uint32_t(settings.m_nDataBits)},
        {kAnsParity,
         kComSetParity,
         {ParityCode(settings.m_nParity)},
         ParityCode(settings.m_nParity)},
        {kAnsStopSize,
         kComSetStopSize,
         {uint8_t(settings.m_nStopBits)},
         uint32_t(settings.m_nStopBits)},
        {kAnsFlow, kComSetControl, {FlowCode(settings)}, FlowCode(settings)},
    };
    std::vector<uint8_t> commands;
    unsigned nBefore[kAnsCount] = {};
    bool bAsked[kAnsCount] = {};
retry:
    commands.clear();
    std::fill(std::begin(bAsked), std::end(bAsked), false);
    {
        std::lock_guard lock(s.mutex);
        for (const CAsk& ask : asks) {
            nBefore[ask.m_eKind] = s.nAnswers[ask.m_eKind];
            if (s.bKnown[ask.m_eKind] && s.nValue[ask.m_eKind] == ask.m_nWanted)
                continue;
            bAsked[ask.m_eKind] = true;
            AppendComCommand(ask.m_nCommand, ask.m_value, commands);
        }
    }
    if (!commands.empty()) {
        s.Send(commands);
        auto answered = [&] {
            for (int i = 0; i < kAnsCount; ++i) {
                if (bAsked[i] && s.nAnswers[i] == nBefore[i])
                    return false;
            }
            return true;
        };
        if (!s.PumpUntil(answered, s.limits.m_nAnswerMs)) {
            const int nAgain = s.ReconnectIfTurnedAway();
            if (nAgain == 0)
                goto retry;
            // The new connection's own failure is the cause, not the settings it never got.
            if (nAgain > 0)
                return nAgain;
            std::lock_guard lock(s.mutex);
            if (s.bGone)
                return ECONNRESET;
            for (const CAsk& ask : asks) {
                if (bAsked[ask.m_eKind] && s.nAnswers[ask.m_eKind] == nBefore[ask.m_eKind]) {
                    s.strCause = s.strWhere + " did not answer " + ComCommandName(ask.m_nCommand) +
                                 " within " + std::to_string((s.limits.m_nAnswerMs + 999) / 1000) +
                                 " s";
                    break;
                }
            }
            return ETIMEDOUT;
        }
    }
    // The modem state mask went out at Open, before these settings; a server that answers at
    // all has answered it by now, or soon after.
    bool bWait = false;
    {
        std::lock_guard lock(s.mutex);
        bWait = !s.bModemAnswered && !s.bWithoutLines;
        if (bWait && IsKnownWithoutLines(s.strWhere)) {
            s.bWithoutLines = true;
            bWait = false;
        }
    }
    if (bWait && !s.PumpUntil([&] { return s.bModemAnswered; }, s.limits.m_nModemMs)) {
        std::lock_guard lock(s.mutex);
        if (!s.bModemAnswered && !s.bGone) {
            s.bWithoutLines = true;
            RememberWithoutLines(s.strWhere);
            s.Note(s.strWhere + " answered no modem-control request within " +
                   std::to_string(s.limits.m_nModemMs) +
                   " ms: a port without modem lines, DSR and CTS taken as asserted");
        }
    }

    std::lock_guard lock(s.mutex);
    if (s.bGone)
        return ECONNRESET;
    applied = settings;
    applied.m_nBaud = s.nValue[kAnsBaud];
    applied.m_nDataBits = static_cast<int>(s.nValue[kAnsDataSize]);
    applied.m_nParity = ParityOf(s.nValue[kAnsParity]);
    applied.m_nStopBits = static_cast<int>(s.nValue[kAnsStopSize]);
    applied.m_bCtsFlow = s.nValue[kAnsFlow] == kControlFlowHardware;
    applied.m_bXonXoff = s.nValue[kAnsFlow] == kControlFlowXonXoff;
    // The option has no way to set other characters: a server uses DC1 and DC3.
    applied.m_cXon = 17;
    applied.m_cXoff = 19;
    const int64_t nNowMs = GetClock().GetMilliseconds();
    s.dLead = s.LeadNow(nNowMs);
    s.nLeadAtMs = nNowMs;
    s.dBytesPerMs = double(applied.m_nBaud) / applied.BitsPerByte() / 1000.0;
    s.bCtsFlow = applied.m_bCtsFlow;
    return 0;
}

void CNetSerialDevice::SetDtr(bool bOn) {
    CState& s = *m_pState;
    std::vector<uint8_t> command;
    {
        std::lock_guard lock(s.mutex);
        if (s.hSocket == kNoSocket || s.nDtr == int(bOn))
            return;
        s.nDtr = bOn;
    }
    AppendComCommand(kComSetControl, {bOn ? kControlDtrOn : kControlDtrOff}, command);
    s.Send(command);
}

ISerialDevice::ELine CNetSerialDevice::GetDsr() {
    CState& s = *m_pState;
    std::lock_guard lock(s.mutex);
    if (s.bGone)
        return ELine::Gone;
    if (s.bWithoutLines || s.nModemState < 0)
        return ELine::On;
    return (s.nModemState & kModemDsr) ? ELine::On : ELine::Off;
}

void CNetSerialDevice::Purge(EQueue eQueues) {
    CState& s = *m_pState;
    if (s.hSocket == kNoSocket)
        return;
    std::vector<uint8_t> command;
    AppendComCommand(kComPurgeData, {static_cast<uint8_t>(eQueues)}, command);
    std::lock_guard lock(s.mutex);
    s.out.insert(s.out.end(), command.begin(), command.end());
    s.Flush();
    if (eQueues == EQueue::Output)
        return;
    // What has reached this computer goes too; the server's answer is not awaited, as a local
    // purge does not wait either.
    s.Pump();
    s.received.clear();
    s.pending.Clear();
}

ISerialDevice::EEvent CNetSerialDevice::WaitEvent() {
    CState& s = *m_pState;
    for (;;) {
        {
            std::lock_guard lock(s.mutex);
            if (!s.received.empty() || s.bGone)
                return EEvent::Data;
        }
        if (s.bWakeAsked)
            return EEvent::Woken;
        const CNetWait ready = CNetWait::Wait(s.hSocket, false, &s.wake, &s.pending, kEventSliceMs);
        if (ready.m_bWaker[0])
            return EEvent::Woken;
        if (ready.m_bSocket || ready.m_bWaker[1])
            return EEvent::Data;
    }
}

void CNetSerialDevice::Wake() {
    m_pState->bWakeAsked = true;
    m_pState->wake.Signal();
}

void CNetSerialDevice::ClearWake() {
    m_pState->bWakeAsked = false;
    m_pState->wake.Clear();
}

ssize_t CNetSerialDevice::ReadAvailable(void* pDest, size_t nMax) {
    CState& s = *m_pState;
    auto* pBytes = static_cast<uint8_t*>(pDest);
    std::lock_guard lock(s.mutex);
    size_t nTaken = std::min(nMax, s.received.size());
    std::copy_n(s.received.begin(), nTaken, pBytes);
    s.received.erase(s.received.begin(), s.received.begin() + static_cast<long>(nTaken));
    if (s.received.empty())
        s.pending.Clear();
    // Each byte on the connection is at most one data byte, so reading no more than the room
    // left never leaves data over.
    if (nTaken < nMax && !s.bGone && s.hSocket != kNoSocket) {
        std::vector<uint8_t> raw(nMax - nTaken);
        int nErrno = 0;
        const long nRead = NetReceive(s.hSocket, raw.data(), raw.size(), nErrno);
        if (nRead < 0) {
            s.SetGone(nErrno);
        } else if (nRead > 0) {
            std::vector<uint8_t> data;
            s.Take(raw.data(), static_cast<size_t>(nRead), data);
            std::copy(data.begin(), data.end(), pBytes + nTaken);
            nTaken += data.size();
        }
    }
    if (nTaken == 0 && s.bGone)
        return -1;
    return static_cast<ssize_t>(nTaken);
}

ssize_t CNetSerialDevice::WriteSome(const void* pData, size_t nCount, int nWaitMs) {
    CState& s = *m_pState;
    const auto* pBytes = static_cast<const uint8_t*>(pData);
    const int64_t nDeadline = GetClock().GetMilliseconds() + std::max(nWaitMs, 0);
    for (;;) {
        {
            std::lock_guard lock(s.mutex);
            s.Flush();
            if (s.bGone || s.hSocket == kNoSocket)
                return -1;
            if (s.out.size() < kOutputCap) {
                const size_t nTaken = std::min(nCount, kOutputCap - s.out.size());
                AppendEscaped(pBytes, nTaken, s.out);
                s.bUsed = s.bDataSinceClose = true;
                const int64_t nNowMs = GetClock().GetMilliseconds();
                s.dLead = s.LeadNow(nNowMs) + double(nTaken);
                s.nLeadAtMs = nNowMs;
                s.Flush();
                return s.bGone ? -1 : static_cast<ssize_t>(nTaken);
            }
        }
        const int64_t nLeft = nDeadline - GetClock().GetMilliseconds();
        if (nLeft <= 0)
            return 0;
        CNetWait::Wait(s.hSocket, true, nullptr, nullptr,
                       static_cast<int>(std::min<int64_t>(nLeft, kSliceMs)));
    }
}

int CNetSerialDevice::OutputQueued() {
    CState& s = *m_pState;
    std::lock_guard lock(s.mutex);
    s.Flush();
    if (s.bGone || s.hSocket == kNoSocket)
        return -1;
    return static_cast<int>(s.out.size()) + NetUnsent(s.hSocket);
}

ISerialDevice::EDelivery CNetSerialDevice::CheckDelivery(std::string& strHow) {
    CState& s = *m_pState;
    std::lock_guard lock(s.mutex);
    strHow.clear();
    if (s.hSocket == kNoSocket || !s.bDataSinceClose)
        return EDelivery::OnLine;
    s.Flush();
    s.Pump();
    if (s.bGone)
        return EDelivery::Gone;
    const int64_t nNowMs = GetClock().GetMilliseconds();
    const bool bCtsLow =
        s.bCtsFlow && !s.bWithoutLines && s.nModemState >= 0 && !(s.nModemState & kModemCts);
    auto held = [&](const char* pszOtherwise =
                        "the server has not read the last bytes (timing mark unanswered)") {
        strHow = s.bSuspended ? "the server suspended the flow (FLOWCONTROL-SUSPEND)"
                 : bCtsLow    ? "CTS low at the server"
                              : pszOtherwise;
        return EDelivery::Held;
    };
    // Still leaving this computer: moving, or held by a server that takes nothing more.
    const size_t nLeft = s.out.size() + static_cast<size_t>(std::max(NetUnsent(s.hSocket), 0));
    if (nLeft > 0) {
        const bool bMoved = nLeft < s.nLeftBefore;
        s.nLeftBefore = nLeft;
        return bMoved && !s.bSuspended && !bCtsLow
                   ? EDelivery::Pending
                   : held("the server takes no more bytes from this computer");
    }
    s.nLeftBefore = SIZE_MAX;
    if (s.bMarks) {
        if (s.nCloseMark == 0) {
            s.nCloseMark = ++s.nMarksAsked;
            AppendNegotiation(kDo, kOptTimingMark, s.out);
            s.Flush();
            return EDelivery::Pending;
        }
        if (s.nMarksAnswered < s.nCloseMark)
            return held();
        if (s.nMarkAnsweredAtMs < 0)
            s.nMarkAnsweredAtMs = nNowMs;
    }
    if (s.bSuspended || bCtsLow)
        return held();
    const double dLead = s.LeadNow(nNowMs);
    // Told after the server had read the last byte: the transmitter is empty.
    const bool bToldEmpty = s.nLineStates > s.nLineStatesAtMark && s.nLineState >= 0 &&
                            (s.nLineState & kLineShiftEmpty);
    if (dLead > 0 && !bToldEmpty)
        return EDelivery::Pending;
    s.bDataSinceClose = false;
    s.nCloseMark = 0;
    s.nMarkAnsweredAtMs = -1;
    if (s.bMarks && bToldEmpty) {
        strHow = "on the line: the server read every byte (timing mark answered) and then told "
                 "its transmitter empty (NOTIFY-LINESTATE)";
        return EDelivery::OnLine;
    }
    strHow =
        std::string("handed to the server, delivery unknown: ") +
        (s.bMarks ? "it read every byte (timing mark answered)" : "it answers no timing mark") +
        " and tells nothing of its line; the connection was kept for the line's time of "
        "what it may still hold at " +
        std::to_string(static_cast<long>(s.dBytesPerMs * 1000 + 0.5)) + " bytes/s";
    return EDelivery::Unknown;
}

int CNetSerialDevice::GetSerialFlags(int&) {
    return ENOTTY;
}

int CNetSerialDevice::SetSerialFlags(int) {
    return ENOTTY;
}

int CNetSerialDevice::GetReceiveTrigger(int&) {
    return ENOENT;
}

int CNetSerialDevice::SetReceiveTrigger(int) {
    return ENOENT;
}

std::string CNetSerialDevice::GetCauseText() const {
    std::lock_guard lock(m_pState->mutex);
    return m_pState->strCause;
}

std::string CNetSerialDevice::TakeTraceNote() {
    std::lock_guard lock(m_pState->mutex);
    return std::exchange(m_pState->strNotes, std::string());
}
