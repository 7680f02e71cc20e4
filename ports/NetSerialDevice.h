#pragma once
// A serial port on a serial device server (ser2net, or a box with RS-232 ports and an Ethernet
// jack), reached with the Telnet COM port option of RFC 2217 and named rfc2217://host:port.
//
// The server sets its port's line as asked and answers each setting with the value it holds;
// that answer is the read-back, as tcgetattr is for a local port. Every setting costs a round
// trip, so a setting is sent only when it differs from what the server last answered, and the
// settings of one Apply travel together. Data cross with 0xFF doubled. DSR and CTS come from
// the server's modem state notifications; a server that answers no modem-control request
// within a short limit has no modem lines (ser2net in front of a pseudo-terminal), and the
// lines count as asserted, as on a local pseudo-terminal.
#include <cstdint>
#include <memory>
#include <string>

#include "ports/SerialDevice.h"

// True for a name of the form rfc2217://... (any case), which only this device opens.
bool IsNetworkPortName(const std::string& strName);
// Host and port of rfc2217://host:port (host a name, an IPv4 address or [IPv6]; an optional
// trailing "/"). False for anything else.
bool ParseNetworkPortName(const std::string& strName, std::string& strHost, uint16_t& nPort);
// The one spelling of a network port's name (rfc2217://host:port, the host in lower case, no
// trailing "/"), so that two spellings of one server port are seen as one; other names as
// given.
std::string NormalNetworkPortName(const std::string& strName);

class CNetSerialDevice : public ISerialDevice {
public:
    // The limits, on the clock in force. A link across a plant or a country is slower than a
    // cable: a server gets seconds, not the milliseconds a local driver needs.
    struct CLimits {
        int m_nConnectMs = 5000;
        int m_nNegotiationMs = 5000; // from the connection to the server's consent
        int m_nAnswerMs = 5000;      // for the answers to one Apply's settings
        // For the answer to the modem state mask, after the settings' answers: the mask went
        // out first, so a server with modem lines has mostly answered it by then. One that
        // answers later still counts its lines from then on.
        int m_nModemMs = 200;
    };
    CNetSerialDevice();
    explicit CNetSerialDevice(const CLimits& limits);
    ~CNetSerialDevice() override;
    CNetSerialDevice(const CNetSerialDevice&) = delete;
    CNetSerialDevice& operator=(const CNetSerialDevice&) = delete;

    // strPath is rfc2217://host:port.
    int Open(const std::string& strPath) override;
    void Close() override;
    bool IsOpen() const override;

    int Apply(const CLineSettings& settings, CLineSettings& applied) override;

    void SetDtr(bool bOn) override;
    ELine GetDsr() override;
    void Purge(EQueue eQueues) override;

    EEvent WaitEvent() override;
    void Wake() override;
    void ClearWake() override;

    ssize_t ReadAvailable(void* pDest, size_t nMax) override;
    ssize_t WriteSome(const void* pData, size_t nCount, int nWaitMs) override;
    int OutputQueued() override;
    // Judged by what the server tells where it does (its answer to a timing mark once it has
    // read the last byte, its line state, its flow control and CTS), otherwise by the time its
    // line needs for what it may still hold. Unknown when the server tells nothing of its line:
    // the bytes were handed to it, and whether the machine has them cannot be seen from here.
    EDelivery CheckDelivery(std::string& strHow) override;

    // A server has none of a local driver's flags or FIFO.
    int GetSerialFlags(int& nFlags) override;
    int SetSerialFlags(int nFlags) override;
    int GetReceiveTrigger(int& nBytes) override;
    int SetReceiveTrigger(int nBytes) override;

    std::string GetCauseText() const override;
    std::string TakeTraceNote() override;

    // The servers found without modem lines are remembered for the process, so only the first
    // opening waits for their silence; tests start afresh.
    static void ForgetServers();

private:
    struct CState;
    std::unique_ptr<CState> m_pState;
};
