#pragma once
// The byte level of a serial port reached over the network: Telnet (option negotiation,
// subnegotiation, 0xFF doubled in data) carrying the COM port option's commands. It holds no
// socket, so every byte a server may send can be fed to it in a test or a fuzzer.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace telnet {

constexpr uint8_t kIac = 255;
constexpr uint8_t kDont = 254;
constexpr uint8_t kDo = 253;
constexpr uint8_t kWont = 252;
constexpr uint8_t kWill = 251;
constexpr uint8_t kSb = 250;
constexpr uint8_t kSe = 240;

constexpr uint8_t kOptBinary = 0;
constexpr uint8_t kOptSuppressGoAhead = 3;
// Asked for, a server answers it (WILL or WONT) once it has read everything sent before it.
constexpr uint8_t kOptTimingMark = 6;
constexpr uint8_t kOptComPort = 44;

// COM port option commands as the client sends them; the server answers with 100 added.
enum EComCommand : uint8_t {
    kComSetBaud = 1,
    kComSetDataSize = 2,
    kComSetParity = 3,
    kComSetStopSize = 4,
    kComSetControl = 5,
    kComNotifyLineState = 6,
    kComNotifyModemState = 7,
    kComFlowSuspend = 8, // the server's buffer is full: hold off
    kComFlowResume = 9,
    kComSetLineStateMask = 10,
    kComSetModemStateMask = 11,
    kComPurgeData = 12,
};
constexpr uint8_t kComServerOffset = 100;

// SET-CONTROL values the program uses.
constexpr uint8_t kControlFlowNone = 1;
constexpr uint8_t kControlFlowXonXoff = 2;
constexpr uint8_t kControlFlowHardware = 3;
constexpr uint8_t kControlDtrOn = 8;
constexpr uint8_t kControlDtrOff = 9;

// NOTIFY-LINESTATE bits: the UART has nothing left to send.
constexpr uint8_t kLineShiftEmpty = 0x40;
constexpr uint8_t kLineHoldEmpty = 0x20;

// NOTIFY-MODEMSTATE bits.
constexpr uint8_t kModemDsr = 0x20;
constexpr uint8_t kModemCts = 0x10;

// What the server said besides data.
struct CTelnetCommand {
    uint8_t m_nVerb = 0;   // kWill, kWont, kDo, kDont, kSb; another command byte (NOP...) too
    uint8_t m_nOption = 0; // the option of a negotiation or a subnegotiation
    // A subnegotiation's bytes after the option, 0xFF undoubled. One longer than any the COM
    // port option knows is cut at kMaxPayload and flagged.
    std::vector<uint8_t> m_payload;
    bool m_bTruncated = false;
};

class CTelnetDecoder {
public:
    static constexpr size_t kMaxPayload = 64;

    // Takes the next bytes from the server: the data among them are appended to data, the
    // commands to commands. A command split across two calls is completed by the second.
    void Feed(const uint8_t* pBytes, size_t nCount, std::vector<uint8_t>& data,
              std::vector<CTelnetCommand>& commands);
    void Reset() { *this = CTelnetDecoder(); }

private:
    enum class EState { Data, Iac, Option, Sub, SubIac };
    EState m_eState = EState::Data;
    CTelnetCommand m_command;
};

// Data bytes as they go on the connection: each 0xFF doubled.
void AppendEscaped(const uint8_t* pBytes, size_t nCount, std::vector<uint8_t>& out);
// IAC verb option.
void AppendNegotiation(uint8_t nVerb, uint8_t nOption, std::vector<uint8_t>& out);
// IAC SB COM-PORT-OPTION command value... IAC SE, with 0xFF in the value doubled.
void AppendComCommand(uint8_t nCommand, const std::vector<uint8_t>& value,
                      std::vector<uint8_t>& out);

// A COM port option answer of the server: its command (without the 100) and value as a number
// (big-endian over its bytes; the baud rate is four of them). False for a subnegotiation that
// is none, or whose value has a length its command cannot have.
struct CComAnswer {
    uint8_t m_nCommand = 0;
    uint32_t m_nValue = 0;
};
bool DecodeComAnswer(const CTelnetCommand& command, CComAnswer& answer);

// "SET-BAUDRATE", for a trace or an error a person reads.
std::string ComCommandName(uint8_t nCommand);

} // namespace telnet
