// The network serial device against a small Telnet peer of the test's own, which plays the
// server's side of the COM port option as it is told: answers or silence, other values,
// refusals, a connection closed or reset.
#include "ports/NetSerialDevice.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ports/NetSocket.h"
#include "ports/TelnetCodec.h"
#include "tests/support/PauseClock.h"
#include "tests/support/TelnetPeer.h"
#include "tests/support/Wait.h"

using namespace telnet;

namespace {

CLineSettings Line(uint32_t nBaud, bool bCts) {
    CLineSettings s;
    s.m_nBaud = nBaud;
    s.m_bCtsFlow = bCts;
    return s;
}

size_t CountCommand(const std::vector<std::vector<uint8_t>>& commands, uint8_t nCommand) {
    size_t n = 0;
    for (const auto& c : commands)
        n += c[0] == nCommand;
    return n;
}

// Bytes the device hands on, until nCount have come or the connection has gone.
std::vector<uint8_t> ReadData(CNetSerialDevice& device, size_t nCount) {
    std::vector<uint8_t> bytes;
    WaitUntil([&] {
        uint8_t buffer[256];
        const ssize_t n = device.ReadAvailable(buffer, sizeof buffer);
        if (n > 0)
            bytes.insert(bytes.end(), buffer, buffer + n);
        return bytes.size() >= nCount || n < 0;
    });
    return bytes;
}

class NetSerialDeviceTest : public ::testing::Test {
protected:
    void SetUp() override { CNetSerialDevice::ForgetServers(); }
};

} // namespace

TEST(TelnetCodecTest, DecodesDataCommandsAndSubnegotiationsHoweverSplit) {
    // Data with a doubled 0xFF, a negotiation, a baud answer holding 0xFF (doubled inside the
    // subnegotiation), a NOP, and data again.
    const std::vector<uint8_t> stream =
        Bytes({'a', 255, 255, 'b', 255, kDo, kOptComPort, 255, kSb, kOptComPort, 101,
               0,   0,   255, 255, 0,   255, kSe,         255, 241, 'c'});
    for (size_t nSplit = 0; nSplit <= stream.size(); ++nSplit) {
        CTelnetDecoder decoder;
        std::vector<uint8_t> data;
        std::vector<CTelnetCommand> commands;
        decoder.Feed(stream.data(), nSplit, data, commands);
        decoder.Feed(stream.data() + nSplit, stream.size() - nSplit, data, commands);
        EXPECT_EQ(data, Bytes({'a', 255, 'b', 'c'})) << "split at " << nSplit;
        ASSERT_EQ(commands.size(), 2u) << "split at " << nSplit;
        EXPECT_EQ(commands[0].m_nVerb, kDo);
        EXPECT_EQ(commands[0].m_nOption, kOptComPort);
        CComAnswer answer;
        ASSERT_TRUE(DecodeComAnswer(commands[1], answer));
        EXPECT_EQ(answer.m_nCommand, kComSetBaud);
        EXPECT_EQ(answer.m_nValue, 0xFF00u);
    }
}

TEST(TelnetCodecTest, BrokenOrOverlongSubnegotiationsLoseNoDataAfterThem) {
    struct CCase {
        const char* m_pszWhat;
        std::vector<uint8_t> m_stream;
        std::vector<uint8_t> m_data;
    };
    std::vector<uint8_t> overlong = Bytes({255, kSb, kOptComPort, 101});
    overlong.insert(overlong.end(), 200, 7);
    overlong.insert(overlong.end(), {255, kSe, 'x'});
    const CCase cases[] = {
        // IAC followed by a negotiation inside a subnegotiation: the server forgot IAC SE.
        {"no IAC SE", Bytes({255, kSb, kOptComPort, 102, 8, 255, kWill, 1, 'x'}), Bytes({'x'})},
        {"IAC IAC ends nothing", Bytes({255, kSb, 44, 255, 255, 255, kSe, 'x'}), Bytes({'x'})},
        {"overlong", overlong, Bytes({'x'})},
        {"lone IAC SE", Bytes({'a', 255, kSe, 'b'}), Bytes({'a', 'b'})},
    };
    for (const CCase& c : cases) {
        CTelnetDecoder decoder;
        std::vector<uint8_t> data;
        std::vector<CTelnetCommand> commands;
        decoder.Feed(c.m_stream.data(), c.m_stream.size(), data, commands);
        EXPECT_EQ(data, c.m_data) << c.m_pszWhat;
        for (const CTelnetCommand& command : commands) {
            CComAnswer answer;
            EXPECT_FALSE(command.m_nVerb == kSb && command.m_bTruncated &&
                         DecodeComAnswer(command, answer))
                << c.m_pszWhat << ": a cut answer is no answer";
        }
    }
}

TEST(TelnetCodecTest, EscapesEvery0xFFInDataAndCommandValues) {
    std::vector<uint8_t> out;
    const std::vector<uint8_t> data = Bytes({0, 255, 255, 65});
    AppendEscaped(data.data(), data.size(), out);
    EXPECT_EQ(out, Bytes({0, 255, 255, 255, 255, 65}));
    out.clear();
    AppendComCommand(kComSetBaud, Bytes({0, 0, 255, 0}), out);
    EXPECT_EQ(out, Bytes({255, kSb, 44, 1, 0, 0, 255, 255, 0, 255, kSe}));
}

TEST(NetworkPortNameTest, TakesHostAndPortOnly) {
    struct CCase {
        const char* m_pszName;
        bool m_bValid;
        const char* m_pszHost;
        int m_nPort;
    };
    const CCase cases[] = {
        {"rfc2217://127.0.0.1:4001", true, "127.0.0.1", 4001},
        {"RFC2217://box-3.shop.example:2001/", true, "box-3.shop.example", 2001},
        {"rfc2217://[::1]:7000", true, "::1", 7000},
        {"rfc2217://host:65535", true, "host", 65535},
        {"rfc2217://host:0", false, "", 0},
        {"rfc2217://host:65536", false, "", 0},
        {"rfc2217://host", false, "", 0},
        {"rfc2217://:4001", false, "", 0},
        {"rfc2217://host:40x1", false, "", 0},
        {"rfc2217://ho st:4001", false, "", 0},
        {"rfc2217://host:4001?timeout=3", false, "", 0},
        {"rfc2217://[::1:7000", false, "", 0},
        {"telnet://host:4001", false, "", 0},
        {"COM1", false, "", 0},
    };
    for (const CCase& c : cases) {
        std::string strHost;
        uint16_t nPort = 0;
        EXPECT_EQ(ParseNetworkPortName(c.m_pszName, strHost, nPort), c.m_bValid) << c.m_pszName;
        if (c.m_bValid) {
            EXPECT_EQ(strHost, c.m_pszHost) << c.m_pszName;
            EXPECT_EQ(nPort, c.m_nPort) << c.m_pszName;
        }
    }
}

TEST(NetworkPortNameTest, SpellingsOfOneServerPortHaveOneNormalForm) {
    EXPECT_EQ(NormalNetworkPortName("RFC2217://Box-3.Shop.EXAMPLE:2001/"),
              "rfc2217://box-3.shop.example:2001");
    EXPECT_EQ(NormalNetworkPortName("rfc2217://box-3.shop.example:2001"),
              NormalNetworkPortName("Rfc2217://BOX-3.shop.example:2001/"));
    EXPECT_EQ(NormalNetworkPortName("rfc2217://[FE80::1]:7000/"), "rfc2217://[fe80::1]:7000");
    EXPECT_NE(NormalNetworkPortName("rfc2217://host:4001"),
              NormalNetworkPortName("rfc2217://host:4002"));
    // Local names are left as they are: their own comparison decides.
    EXPECT_EQ(NormalNetworkPortName("/dev/ttyS0"), "/dev/ttyS0");
}

TEST_F(NetSerialDeviceTest, SendsEachSettingOnlyWhenItDiffersFromTheServersAnswer) {
    CTelnetPeer peer;
    CNetSerialDevice device;
    ASSERT_EQ(device.Open(peer.Url()), 0) << device.GetCauseText();
    CLineSettings applied;
    ASSERT_EQ(device.Apply(Line(9600, false), applied), 0) << device.GetCauseText();
    EXPECT_TRUE(applied.IsSameLine(Line(9600, false)));
    const auto first = peer.ComCommands();
    for (uint8_t nCommand : {kComSetBaud, kComSetDataSize, kComSetParity, kComSetStopSize})
        EXPECT_EQ(CountCommand(first, nCommand), 1u) << ComCommandName(nCommand);
    EXPECT_EQ(CountCommand(first, kComSetControl), 1u);

    // The same line again costs no round trip; a new baud rate and handshake cost two commands.
    peer.ClearSeen();
    ASSERT_EQ(device.Apply(Line(9600, false), applied), 0);
    ASSERT_EQ(device.Apply(Line(38400, true), applied), 0);
    EXPECT_TRUE(applied.IsSameLine(Line(38400, true)));
    const auto second = peer.ComCommands();
    ASSERT_EQ(second.size(), 2u);
    EXPECT_EQ(second[0], Bytes({kComSetBaud, 0, 0, 0x96, 0}));
    EXPECT_EQ(second[1], Bytes({kComSetControl, kControlFlowHardware}));

    // A fresh connection knows nothing of the last one's line.
    device.Close();
    ASSERT_EQ(device.Open(peer.Url()), 0);
    ASSERT_TRUE(WaitUntil([&] { return peer.Connections() == 2; }));
    ASSERT_EQ(device.Apply(Line(38400, true), applied), 0);
    EXPECT_EQ(CountCommand(peer.ComCommands(), kComSetBaud), 1u);
}

TEST_F(NetSerialDeviceTest, AnotherBaudInTheAnswerIsWhatTheLineHolds) {
    CTelnetPeer::CScript script;
    script.m_baud = 4800;
    CTelnetPeer peer(script);
    CNetSerialDevice device;
    ASSERT_EQ(device.Open(peer.Url()), 0);
    CLineSettings applied;
    ASSERT_EQ(device.Apply(Line(38400, false), applied), 0);
    EXPECT_EQ(applied.m_nBaud, 4800u);
}

TEST_F(NetSerialDeviceTest, DataCrossWith0xFFDoubledOnTheConnectionOnly) {
    CTelnetPeer peer;
    CNetSerialDevice device;
    ASSERT_EQ(device.Open(peer.Url()), 0);
    CLineSettings applied;
    ASSERT_EQ(device.Apply(Line(9600, false), applied), 0);

    std::vector<uint8_t> all(256);
    for (int i = 0; i < 256; ++i)
        all[i] = static_cast<uint8_t>(255 - i);
    ASSERT_EQ(device.WriteSome(all.data(), all.size(), 1000), 256);
    ASSERT_TRUE(WaitUntil([&] { return peer.Data().size() >= 256; }));
    EXPECT_EQ(peer.Data(), all);
    const std::vector<uint8_t> raw = peer.Raw();
    std::vector<uint8_t> escaped;
    AppendEscaped(all.data(), all.size(), escaped);
    EXPECT_NE(std::search(raw.begin(), raw.end(), escaped.begin(), escaped.end()), raw.end());

    std::vector<uint8_t> from;
    AppendEscaped(all.data(), all.size(), from);
    peer.Send(from);
    EXPECT_EQ(device.WaitEvent(), ISerialDevice::EEvent::Data);
    EXPECT_EQ(ReadData(device, 256), all);
}

TEST_F(NetSerialDeviceTest, PurgeNamesTheQueuesTheServerEmpties) {
    CTelnetPeer peer;
    CNetSerialDevice device;
    ASSERT_EQ(device.Open(peer.Url()), 0);
    CLineSettings applied;
    ASSERT_EQ(device.Apply(Line(9600, false), applied), 0);
    peer.ClearSeen();
    device.Purge(ISerialDevice::EQueue::Input);
    device.Purge(ISerialDevice::EQueue::Output);
    device.Purge(ISerialDevice::EQueue::Both);
    ASSERT_TRUE(WaitUntil([&] { return peer.ComCommands().size() == 3; }));
    EXPECT_EQ(peer.ComCommands(), (std::vector<std::vector<uint8_t>>{
                                      {kComPurgeData, 1}, {kComPurgeData, 2}, {kComPurgeData, 3}}));
}

TEST_F(NetSerialDeviceTest, ServerWithoutModemLinesHasThemAssertedAndIsTraced) {
    CTelnetPeer peer; // answers the settings, never the modem state mask
    CNetSerialDevice device;
    ASSERT_EQ(device.Open(peer.Url()), 0);
    // ser2net in front of a pseudo-terminal tells every line low all the same.
    peer.SendModemState(0);
    CLineSettings applied;
    ASSERT_EQ(device.Apply(Line(9600, true), applied), 0);
    EXPECT_EQ(device.GetDsr(), ISerialDevice::ELine::On);
    EXPECT_NE(device.TakeTraceNote().find("without modem lines"), std::string::npos);
    EXPECT_EQ(device.TakeTraceNote(), "") << "each note once";
    device.SetDtr(true);
    ASSERT_TRUE(WaitUntil([&] { return CountCommand(peer.ComCommands(), kComSetControl) == 2; }))
        << "DTR is still asked for";
}

TEST_F(NetSerialDeviceTest, ServerWithModemLinesGivesDsrFromItsNotifications) {
    CTelnetPeer::CScript script;
    script.m_bAnswerModem = true;
    CTelnetPeer peer(script);
    CNetSerialDevice device;
    ASSERT_EQ(device.Open(peer.Url()), 0);
    CLineSettings applied;
    ASSERT_EQ(device.Apply(Line(9600, true), applied), 0);
    // The connection's own note only: nothing of missing modem lines.
    const std::string strNote = device.TakeTraceNote();
    EXPECT_EQ(strNote.find("modem"), std::string::npos) << strNote;
    EXPECT_NE(strNote.find("keepalive on"), std::string::npos) << strNote;
    EXPECT_EQ(CountCommand(peer.ComCommands(), kComSetModemStateMask), 1u);

    peer.SendModemState(kModemCts);
    ASSERT_TRUE(WaitUntil([&] {
        uint8_t buffer[16];
        device.ReadAvailable(buffer, sizeof buffer);
        return device.GetDsr() == ISerialDevice::ELine::Off;
    }));
    peer.SendModemState(kModemDsr | kModemCts | 0x02);
    ASSERT_TRUE(WaitUntil([&] {
        uint8_t buffer[16];
        device.ReadAvailable(buffer, sizeof buffer);
        return device.GetDsr() == ISerialDevice::ELine::On;
    }));
}

TEST_F(NetSerialDeviceTest, FailuresToOpenSayWhatHappened) {
    // A port nobody listens on: a listener closed again leaves one free.
    int nFreePort = 0;
    {
        CTelnetPeer closed;
        nFreePort = std::stoi(closed.Url().substr(closed.Url().rfind(':') + 1));
    }
    CTelnetPeer::CScript silent;
    silent.m_bAgree = false;
    CTelnetPeer::CScript refusing;
    refusing.m_bRefuse = true;
    CTelnetPeer::CScript plain;
    plain.m_bRefuseBinary = true;
    CTelnetPeer silentPeer(silent);
    CTelnetPeer refusingPeer(refusing);
    CTelnetPeer plainPeer(plain);

    struct CCase {
        std::string m_strUrl;
        int m_nErrno;
        const char* m_pszWords;
    };
    const CCase cases[] = {
        {"rfc2217://127.0.0.1:" + std::to_string(nFreePort), ECONNREFUSED, "connection refused"},
        {"rfc2217://no-such-host.invalid:4001", EHOSTUNREACH, "host not found"},
        {silentPeer.Url(), ETIMEDOUT, "no RFC 2217 negotiation"},
        {refusingPeer.Url(), EPROTONOSUPPORT, "refused the COM port option"},
        // Plain Telnet may turn CR NUL into CR on the way.
        {plainPeer.Url(), EPROTONOSUPPORT, "refused binary transmission"},
    };
    CStepClock clock(1000); // the limits pass within a few looks at the clock
    CClockOverride over(clock);
    for (const CCase& c : cases) {
        CNetSerialDevice device;
        EXPECT_EQ(device.Open(c.m_strUrl), c.m_nErrno) << c.m_strUrl;
        EXPECT_NE(device.GetCauseText().find(c.m_pszWords), std::string::npos)
            << c.m_strUrl << ": " << device.GetCauseText();
        EXPECT_FALSE(device.IsOpen());
    }
}

TEST_F(NetSerialDeviceTest, UnansweredSettingIsNamed) {
    CTelnetPeer::CScript script;
    script.m_bAnswerSettings = false;
    CTelnetPeer peer(script);
    CNetSerialDevice device;
    ASSERT_EQ(device.Open(peer.Url()), 0);
    CStepClock clock(1000);
    CClockOverride over(clock);
    CLineSettings applied;
    EXPECT_EQ(device.Apply(Line(9600, false), applied), ETIMEDOUT);
    EXPECT_NE(device.GetCauseText().find("did not answer SET-BAUDRATE"), std::string::npos)
        << device.GetCauseText();
}

TEST_F(NetSerialDeviceTest, ConnectionTurnedAwayAtOnceIsTriedAgain) {
    CTelnetPeer::CScript script;
    script.m_nTurnAway = 2;
    CTelnetPeer peer(script);
    CNetSerialDevice device;
    const int nOpen = device.Open(peer.Url());
    CLineSettings applied;
    ASSERT_EQ(nOpen == 0 ? device.Apply(Line(9600, false), applied) : nOpen, 0)
        << device.GetCauseText();
    EXPECT_EQ(peer.Connections(), 3);
}

TEST_F(NetSerialDeviceTest, ServerEndingTheConnectionIsTheDeviceGoneWithItsCause) {
    for (bool bReset : {false, true}) {
        CTelnetPeer peer;
        CNetSerialDevice device;
        ASSERT_EQ(device.Open(peer.Url()), 0);
        CLineSettings applied;
        ASSERT_EQ(device.Apply(Line(38400, true), applied), 0);
        ASSERT_EQ(device.WriteSome("ab", 2, 1000), 2);
        ASSERT_TRUE(WaitUntil([&] { return peer.Data().size() == 2; }));
        peer.Send(Bytes({'x'}));
        EXPECT_EQ(ReadData(device, 1), Bytes({'x'}));
        peer.Drop(bReset);
        EXPECT_EQ(device.WaitEvent(), ISerialDevice::EEvent::Data);
        EXPECT_TRUE(WaitUntil([&] {
            uint8_t buffer[16];
            return device.ReadAvailable(buffer, sizeof buffer) < 0;
        }));
        EXPECT_EQ(device.GetDsr(), ISerialDevice::ELine::Gone);
        EXPECT_EQ(device.WriteSome("c", 1, 100), -1);
        EXPECT_NE(
            device.GetCauseText().find(bReset ? "reset the connection" : "closed the connection"),
            std::string::npos)
            << device.GetCauseText();
    }
}

TEST_F(NetSerialDeviceTest, WakeEndsTheWaitForData) {
    CTelnetPeer peer;
    CNetSerialDevice device;
    ASSERT_EQ(device.Open(peer.Url()), 0);
    std::atomic<long> nTid{0};
    std::atomic<int> nEvent{-1};
    std::thread waiter([&] {
        nTid = static_cast<long>(gettid());
        nEvent = static_cast<int>(device.WaitEvent());
    });
    ASSERT_TRUE(WaitUntil([&] { return nTid != 0 && IsThreadInPoll(nTid); }));
    device.Wake();
    waiter.join();
    EXPECT_EQ(nEvent, static_cast<int>(ISerialDevice::EEvent::Woken));
}

TEST_F(NetSerialDeviceTest, RefusesOptionsItDoesNotKnowAndAnswersOnlyChanges) {
    CTelnetPeer peer;
    CNetSerialDevice device;
    ASSERT_EQ(device.Open(peer.Url()), 0);
    peer.ClearSeen();
    // WILL ECHO, DO TERMINAL-TYPE, DONT of an option never on, DO SGA twice.
    peer.Send(Bytes({255, kWill, 1, 255, kDo, 24, 255, kDont, 99, 255, kDo, kOptSuppressGoAhead,
                     255, kDo, kOptSuppressGoAhead}));
    CLineSettings applied;
    ASSERT_EQ(device.Apply(Line(9600, false), applied), 0);
    ASSERT_TRUE(WaitUntil([&] { return peer.ComCommands().size() >= 5; }));
    const std::vector<uint8_t> raw = peer.Raw();
    std::vector<uint8_t> replies;
    for (size_t i = 0; i + 2 < raw.size(); ++i) {
        if (raw[i] == 255 && raw[i + 1] >= kWill && raw[i + 1] <= kDont) {
            replies.insert(replies.end(), raw.begin() + i, raw.begin() + i + 3);
            i += 2;
        }
    }
    EXPECT_EQ(replies, Bytes({255, kDont, 1, 255, kWont, 24, 255, kWill, kOptSuppressGoAhead}));
}

TEST_F(NetSerialDeviceTest, ReconnectRefusedAfterATurnAwayNamesTheRefusal) {
    CNetSerialDevice device;
    {
        CTelnetPeer::CScript script;
        script.m_nTurnAway = 1;
        CTelnetPeer peer(script);
        ASSERT_EQ(device.Open(peer.Url()), 0) << device.GetCauseText();
    } // nobody listens any more: the connection tried again is refused
    CLineSettings applied;
    EXPECT_EQ(device.Apply(Line(9600, false), applied), ECONNREFUSED) << device.GetCauseText();
    EXPECT_NE(device.GetCauseText().find("connection refused"), std::string::npos)
        << device.GetCauseText();
}

TEST_F(NetSerialDeviceTest, HostileServerIsCutOffRatherThanAnsweredOrStoredWithoutEnd) {
    struct CCase {
        const char* m_pszName;
        std::vector<uint8_t> m_flood;
        int m_nTimes;
        const char* m_pszCause;
    };
    const CCase cases[] = {
        // DO TERMINAL-TYPE over and over: refused once, then the server is cut off.
        {"negotiations", Bytes({255, kDo, 24, 255, kWill, 1}), 400, "kept changing its Telnet"},
        {"data nobody reads", std::vector<uint8_t>(64 * 1024, 'x'), 6, "sent more than 256 KB"},
    };
    for (const CCase& c : cases) {
        CTelnetPeer::CScript script;
        script.m_bAnswerSettings = false; // the device pumps the connection while it waits
        CTelnetPeer peer(script);
        CNetSerialDevice device;
        ASSERT_EQ(device.Open(peer.Url()), 0) << c.m_pszName;
        peer.ClearSeen();
        for (int i = 0; i < c.m_nTimes; ++i)
            peer.Send(c.m_flood);
        CLineSettings applied;
        EXPECT_NE(device.Apply(Line(9600, false), applied), 0) << c.m_pszName;
        EXPECT_NE(device.GetCauseText().find(c.m_pszCause), std::string::npos)
            << c.m_pszName << ": " << device.GetCauseText();
        uint8_t buffer[16];
        EXPECT_LT(device.ReadAvailable(buffer, sizeof buffer), 0) << c.m_pszName;
        const std::vector<uint8_t> raw = peer.Raw();
        const std::vector<uint8_t> wont = Bytes({255, kWont, 24});
        size_t nWonts = 0;
        for (auto it = raw.begin();
             (it = std::search(it, raw.end(), wont.begin(), wont.end())) != raw.end(); ++it)
            ++nWonts;
        EXPECT_LE(nWonts, 1u) << c.m_pszName;
    }
}

TEST_F(NetSerialDeviceTest, ConnectionIsProbedSoADeadLinkEndsWithinSeconds) {
    CTelnetPeer peer;
    CNetError error;
    const NetHandle hSocket = NetConnect("127.0.0.1", peer.Port(), 1000, error);
    ASSERT_NE(hSocket, kNoSocket) << error.m_strText;
    auto option = [&](int nLevel, int nName) {
        int nValue = -1;
        socklen_t nLength = sizeof nValue;
        getsockopt(hSocket, nLevel, nName, &nValue, &nLength);
        return nValue;
    };
    EXPECT_EQ(option(SOL_SOCKET, SO_KEEPALIVE), 1);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPIDLE), kKeepIdleS);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPINTVL), kKeepIntervalS);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPCNT), kKeepCount);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_USER_TIMEOUT), kUnackedLimitMs);
    // The whole of it stays well inside the write's minute and the loader's echo waits.
    EXPECT_LE(kKeepIdleS + kKeepIntervalS * kKeepCount, 30);
    NetClose(hSocket);
}

// The close's judgement of whether the last bytes reached the server's line.
TEST_F(NetSerialDeviceTest, DeliveryIsJudgedByWhatTheServerTells) {
    struct CCase {
        const char* m_pszName;
        CTelnetScript m_script;
        ISerialDevice::EDelivery m_eEnd;
        const char* m_pszHow;
    };
    CTelnetScript marks; // answers every mark, tells nothing of its line (as ser2net does)
    CTelnetScript told;
    told.m_bTellLineEmpty = true;
    CTelnetScript noMarks;
    noMarks.m_nMarks = 0;
    const CCase cases[] = {
        {"marks answered, line untold", marks, ISerialDevice::EDelivery::Unknown,
         "timing mark answered"},
        {"transmitter empty told after the mark", told, ISerialDevice::EDelivery::OnLine,
         "NOTIFY-LINESTATE"},
        {"no marks at all", noMarks, ISerialDevice::EDelivery::Unknown, "answers no timing mark"},
    };
    for (const CCase& c : cases) {
        CTelnetPeer peer(c.m_script);
        CNetSerialDevice device;
        ASSERT_EQ(device.Open(peer.Url()), 0) << c.m_pszName;
        CLineSettings applied;
        ASSERT_EQ(device.Apply(Line(38400, false), applied), 0) << c.m_pszName;
        std::string strHow;
        EXPECT_EQ(device.CheckDelivery(strHow), ISerialDevice::EDelivery::OnLine)
            << c.m_pszName << ": nothing written yet";
        const std::vector<uint8_t> bytes(2000, 0x5A);
        ASSERT_EQ(device.WriteSome(bytes.data(), bytes.size(), 1000), 2000);
        ISerialDevice::EDelivery eEnd = ISerialDevice::EDelivery::Pending;
        ASSERT_TRUE(WaitUntil([&] {
            eEnd = device.CheckDelivery(strHow);
            return eEnd != ISerialDevice::EDelivery::Pending;
        })) << c.m_pszName;
        EXPECT_EQ(eEnd, c.m_eEnd) << c.m_pszName << ": " << strHow;
        EXPECT_NE(strHow.find(c.m_pszHow), std::string::npos) << c.m_pszName << ": " << strHow;
        EXPECT_EQ(peer.Data().size(), 2000u) << c.m_pszName;
    }
}

TEST_F(NetSerialDeviceTest, DeliveryIsHeldWhileTheServerHasNotReadTheLastBytes) {
    CTelnetScript script;
    script.m_nMarks = 1; // the greeting's; the close's waits until released
    CTelnetPeer peer(script);
    CNetSerialDevice device;
    ASSERT_EQ(device.Open(peer.Url()), 0);
    CLineSettings applied;
    ASSERT_EQ(device.Apply(Line(38400, false), applied), 0);
    ASSERT_EQ(device.WriteSome("abc", 3, 1000), 3);
    std::string strHow;
    ASSERT_TRUE(
        WaitUntil([&] { return device.CheckDelivery(strHow) == ISerialDevice::EDelivery::Held; }));
    EXPECT_NE(strHow.find("timing mark unanswered"), std::string::npos) << strHow;

    // The same while the server says its buffer is full, until it says go on.
    std::vector<uint8_t> suspend, resume;
    AppendComCommand(kComFlowSuspend + kComServerOffset, {}, suspend);
    AppendComCommand(kComFlowResume + kComServerOffset, {}, resume);
    peer.Send(suspend);
    peer.ReleaseMarks();
    ASSERT_TRUE(WaitUntil([&] {
        return device.CheckDelivery(strHow) == ISerialDevice::EDelivery::Held &&
               strHow.find("FLOWCONTROL-SUSPEND") != std::string::npos;
    })) << strHow;
    peer.Send(resume);
    ISerialDevice::EDelivery eEnd = ISerialDevice::EDelivery::Held;
    ASSERT_TRUE(WaitUntil([&] {
        eEnd = device.CheckDelivery(strHow);
        return eEnd != ISerialDevice::EDelivery::Held && eEnd != ISerialDevice::EDelivery::Pending;
    }));
    EXPECT_EQ(eEnd, ISerialDevice::EDelivery::Unknown) << strHow;
}
