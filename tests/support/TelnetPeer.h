#pragma once
// A Telnet peer for the tests of ports on device servers: the server's side of the COM port
// option, one connection at a time on 127.0.0.1, playing what it is told (answers or silence,
// another baud rate, a refusal, connections turned away, a connection closed or reset) and
// recording what the client sent.
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ports/TelnetCodec.h"

inline std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
    std::vector<uint8_t> bytes;
    for (int n : values)
        bytes.push_back(static_cast<uint8_t>(n));
    return bytes;
}

struct CTelnetScript {
    bool m_bAgree = true;           // DO COM-PORT-OPTION, or silence
    bool m_bRefuse = false;         // DONT COM-PORT-OPTION instead
    bool m_bAnswerSettings = true;  // answer each setting with its value
    std::optional<uint32_t> m_baud; // ... but the baud rate with this one
    bool m_bAnswerModem = false;    // answer SET-MODEMSTATE-MASK (a port with modem lines)
    int m_nTurnAway = 0;            // connections closed at once after the negotiation
    bool m_bRefuseBinary = false;   // WONT and DONT BINARY, as a plain Telnet server may
    // Timing marks answered (WONT TIMING-MARK, as ser2net answers them) on each connection, the
    // greeting's first; -1 every one. One more is then answered after ReleaseMark.
    int m_nMarks = -1;
    bool m_bTellLineEmpty = false; // NOTIFY-LINESTATE "transmitter empty" after each mark
};

class CTelnetPeer {
public:
    using CScript = CTelnetScript;

    explicit CTelnetPeer(CScript script = {}) : m_script(script) {
        m_nListen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t nLength = sizeof addr;
        if (bind(m_nListen, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            listen(m_nListen, 4) != 0 ||
            getsockname(m_nListen, reinterpret_cast<sockaddr*>(&addr), &nLength) != 0)
            ADD_FAILURE() << "peer cannot listen: " << std::strerror(errno);
        m_nPort = ntohs(addr.sin_port);
        m_thread = std::thread([this] { Run(); });
    }
    ~CTelnetPeer() {
        m_bStop = true;
        m_thread.join();
        close(m_nListen);
    }

    std::string Url() const { return "rfc2217://127.0.0.1:" + std::to_string(m_nPort); }
    uint16_t Port() const { return m_nPort; }

    // What the client sent on the current connection: its data, and its COM port commands
    // (payload: command, value).
    std::vector<uint8_t> Data() {
        std::lock_guard lock(m_mutex);
        return m_data;
    }
    std::vector<std::vector<uint8_t>> ComCommands() {
        std::lock_guard lock(m_mutex);
        return m_com;
    }
    std::vector<uint8_t> Raw() {
        std::lock_guard lock(m_mutex);
        return m_raw;
    }
    void ClearSeen() {
        std::lock_guard lock(m_mutex);
        m_data.clear();
        m_com.clear();
        m_raw.clear();
    }
    int Connections() const { return m_nConnections; }
    // Answers the marks held back so far (m_nMarks).
    void ReleaseMarks() {
        std::lock_guard lock(m_mutex);
        for (; m_nHeldMarks > 0; --m_nHeldMarks)
            AnswerMark();
        m_script.m_nMarks = -1;
    }
    void Send(const std::vector<uint8_t>& bytes) {
        std::lock_guard lock(m_mutex);
        SendLocked(bytes);
    }
    void SendModemState(uint8_t nState) {
        std::vector<uint8_t> bytes;
        telnet::AppendComCommand(telnet::kComNotifyModemState + telnet::kComServerOffset, {nState},
                                 bytes);
        Send(bytes);
    }
    // Ends the connection: a FIN, or with bReset an RST.
    void Drop(bool bReset) {
        std::lock_guard lock(m_mutex);
        if (m_nConn < 0)
            return;
        if (bReset) {
            linger lg{1, 0};
            setsockopt(m_nConn, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
        }
        close(m_nConn);
        m_nConn = -1;
    }

private:
    void SendLocked(const std::vector<uint8_t>& bytes) {
        if (m_nConn >= 0) [[maybe_unused]]
            ssize_t n = send(m_nConn, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    }

    void Run() {
        while (!m_bStop) {
            pollfd fd{m_nListen, POLLIN, 0};
            bool bIdle = false;
            {
                std::lock_guard lock(m_mutex);
                bIdle = m_nConn < 0;
            }
            if (bIdle && poll(&fd, 1, 20) > 0) {
                const int nConn = accept4(m_nListen, nullptr, nullptr, SOCK_CLOEXEC);
                std::lock_guard lock(m_mutex);
                m_nConn = nConn;
                m_decoder.Reset();
                m_nMarksSeen = 0;
                m_data.clear();
                m_com.clear();
                m_raw.clear();
                ++m_nConnections;
            }
            int nConn = -1;
            {
                std::lock_guard lock(m_mutex);
                nConn = m_nConn;
            }
            if (nConn < 0)
                continue;
            pollfd conn{nConn, POLLIN, 0};
            if (poll(&conn, 1, 20) <= 0)
                continue;
            std::lock_guard lock(m_mutex);
            if (m_nConn != nConn)
                continue;
            uint8_t buffer[4096];
            const ssize_t nRead = recv(m_nConn, buffer, sizeof buffer, MSG_DONTWAIT);
            if (nRead <= 0) {
                close(m_nConn);
                m_nConn = -1;
                continue;
            }
            m_raw.insert(m_raw.end(), buffer, buffer + nRead);
            std::vector<telnet::CTelnetCommand> commands;
            m_decoder.Feed(buffer, static_cast<size_t>(nRead), m_data, commands);
            for (const telnet::CTelnetCommand& c : commands)
                Answer(c);
        }
        if (m_nConn >= 0)
            close(m_nConn);
    }

    void AnswerMark() {
        std::vector<uint8_t> reply;
        telnet::AppendNegotiation(telnet::kWont, telnet::kOptTimingMark, reply);
        if (m_script.m_bTellLineEmpty)
            telnet::AppendComCommand(telnet::kComNotifyLineState + telnet::kComServerOffset,
                                     {telnet::kLineShiftEmpty | telnet::kLineHoldEmpty}, reply);
        SendLocked(reply);
    }

    void Answer(const telnet::CTelnetCommand& c) {
        std::vector<uint8_t> reply;
        if (c.m_nVerb == telnet::kDo && c.m_nOption == telnet::kOptTimingMark) {
            if (m_script.m_nMarks < 0 || m_nMarksSeen++ < m_script.m_nMarks)
                AnswerMark();
            else
                ++m_nHeldMarks;
            return;
        }
        if (m_script.m_bRefuseBinary && c.m_nOption == telnet::kOptBinary) {
            telnet::AppendNegotiation(c.m_nVerb == telnet::kWill ? telnet::kDont : telnet::kWont,
                                      telnet::kOptBinary, reply);
            SendLocked(reply);
            return;
        }
        if (c.m_nVerb == telnet::kWill && c.m_nOption == telnet::kOptComPort) {
            if (m_script.m_bRefuse)
                telnet::AppendNegotiation(telnet::kDont, telnet::kOptComPort, reply);
            else if (m_script.m_bAgree)
                telnet::AppendNegotiation(telnet::kDo, telnet::kOptComPort, reply);
            SendLocked(reply);
            if (m_script.m_bAgree && m_nConnections <= m_script.m_nTurnAway) {
                close(m_nConn);
                m_nConn = -1;
            }
            return;
        }
        if (c.m_nVerb == telnet::kWill || c.m_nVerb == telnet::kDo) {
            telnet::AppendNegotiation(c.m_nVerb == telnet::kWill ? telnet::kDo : telnet::kWill,
                                      c.m_nOption, reply);
            SendLocked(reply);
            return;
        }
        if (c.m_nVerb != telnet::kSb || c.m_nOption != telnet::kOptComPort || c.m_payload.empty())
            return;
        m_com.push_back(c.m_payload);
        const uint8_t nCommand = c.m_payload[0];
        std::vector<uint8_t> value(c.m_payload.begin() + 1, c.m_payload.end());
        const bool bSetting =
            nCommand >= telnet::kComSetBaud && nCommand <= telnet::kComSetControl &&
            !(nCommand == telnet::kComSetControl && !value.empty() && value[0] >= 7);
        if (bSetting && m_script.m_bAnswerSettings) {
            if (nCommand == telnet::kComSetBaud && m_script.m_baud) {
                const uint32_t n = *m_script.m_baud;
                value = Bytes({int(n >> 24), int(n >> 16) & 255, int(n >> 8) & 255, int(n) & 255});
            }
            telnet::AppendComCommand(nCommand + telnet::kComServerOffset, value, reply);
        } else if (nCommand == telnet::kComSetModemStateMask && m_script.m_bAnswerModem) {
            telnet::AppendComCommand(nCommand + telnet::kComServerOffset, value, reply);
        }
        SendLocked(reply);
    }

    CScript m_script;
    int m_nListen = -1;
    uint16_t m_nPort = 0;
    std::atomic<bool> m_bStop{false};
    std::atomic<int> m_nConnections{0};
    std::thread m_thread;
    std::mutex m_mutex;
    int m_nConn = -1;
    int m_nMarksSeen = 0;
    int m_nHeldMarks = 0;
    telnet::CTelnetDecoder m_decoder;
    std::vector<uint8_t> m_data;
    std::vector<std::vector<uint8_t>> m_com;
    std::vector<uint8_t> m_raw;
};
