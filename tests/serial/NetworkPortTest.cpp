// CSerialPort on a port of a device server, named by URL or by a file comN in the ports folder,
// against the tests' own Telnet peer: the same port object, only the device beneath differs.
#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>

#include "ports/NetSerialDevice.h"
#include "serial/SerialPort.h"
#include "tests/serial/SerialPortProbe.h"
#include "tests/support/LinkFixture.h"
#include "tests/support/TelnetPeer.h"

class NetworkPortTest : public LinkFixture {
protected:
    void SetUp() override {
        LinkFixture::SetUp();
        CNetSerialDevice::ForgetServers();
    }
};

TEST_F(NetworkPortTest, FileInThePortsFolderMakesComNThePortOnTheServer) {
    CTelnetPeer peer;
    std::ofstream(m_home.LinkPath(2)) << peer.Url() << "\n";
    const std::vector<uint8_t> bytes = Bytes({0x55, 0xFF, 0x00, 0xFF});
    // A local port and a network one, one after the other on one object: each gets its device.
    CSerialPort port;
    for (const char* pszPort : {"COM1:", "COM2:", "COM1:"}) {
        SCOPED_TRACE(pszPort);
        ASSERT_EQ(port.Open(pszPort, 9600, "N81"), 1) << port.GetOpenError().m_strCause;
        ASSERT_EQ(port.WriteBlock(bytes.data(), 4), 1);
        if (std::string(pszPort) == "COM2:") {
            ASSERT_TRUE(WaitUntil([&] { return peer.Data() == bytes; }));
            std::vector<uint8_t> escaped;
            telnet::AppendEscaped(bytes.data(), bytes.size(), escaped);
            peer.Send(escaped);
        } else {
            EXPECT_EQ(ReceiveAtLeast(4), bytes);
            ASSERT_TRUE(m_link.Send(bytes.data(), bytes.size()));
        }
        EXPECT_EQ(TakeAll(port, 4), bytes);
        port.Close();
    }
}

TEST_F(NetworkPortTest, ServerAnsweringAnotherBaudIsARefusedSettingNamedAsOne) {
    CTelnetPeer::CScript script;
    script.m_baud = 4800;
    CTelnetPeer peer(script);
    CSerialPort port;
    const std::string strUrl = peer.Url();
    ASSERT_EQ(port.Open(strUrl.c_str(), 38400, "N81H"), 0);
    EXPECT_EQ(port.GetOpenError().m_strRefused, "38400 bps -> 4800 bps");
    EXPECT_EQ(port.GetOpenError().m_strDevice, strUrl);
}

TEST_F(NetworkPortTest, ServerClosingMidTransferIsAHangUpWithItsCause) {
    CTelnetPeer peer;
    CSerialPort port;
    const std::string strUrl = peer.Url();
    ASSERT_EQ(port.Open(strUrl.c_str(), 38400, "N81H"), 1);
    std::vector<uint8_t> piece(256, 0xA5);
    ASSERT_EQ(port.WriteBlock(piece.data(), 256), 1);
    ASSERT_TRUE(WaitUntil([&] { return peer.Data().size() == 256; }));
    peer.Drop(false);
    ASSERT_TRUE(WaitUntil([&] { return port.IsDead(); }));
    EXPECT_EQ(port.WriteBlock(piece.data(), 256), 0);
    EXPECT_EQ(port.GetWriteEnd(), EWriteEnd::Dead);
    EXPECT_NE(port.GetDeadCause().find("the server closed the connection"), std::string::npos)
        << port.GetDeadCause();
}

TEST_F(NetworkPortTest, ServerRefusingTheConnectionFailsTheOpenWithItsWords) {
    std::string strUrl;
    {
        CTelnetPeer gone;
        strUrl = gone.Url();
    }
    CSerialPort port;
    ASSERT_EQ(port.Open(strUrl.c_str(), 9600, "N81H"), 0);
    EXPECT_EQ(port.GetOpenError().m_nErrno, ECONNREFUSED);
    EXPECT_NE(port.GetOpenError().m_strCause.find("connection refused by 127.0.0.1:"),
              std::string::npos);
}

// The close after a completed write: the server gets the time to put the last bytes on its line,
// a hold is waited out with the write's stall limit and Cancel, and nothing of the output is
// purged on the server unless the write was given up.
TEST_F(NetworkPortTest, CloseWaitsForTheServerAndSaysHowFarDeliveryIsKnown) {
    struct CCase {
        const char* m_pszName;
        CTelnetScript m_script;
        bool m_bCancel;
        EWriteEnd m_eEnd;
        bool m_bOutputPurged;
    };
    CTelnetScript untold; // reads every byte, tells nothing of its line
    CTelnetScript told;
    told.m_bTellLineEmpty = true;
    CTelnetScript holding;
    holding.m_nMarks = 1; // the close's mark is never answered: the server keeps its buffer full
    const CCase cases[] = {
        {"a server that tells nothing of its line", untold, false, EWriteEnd::Unconfirmed, false},
        {"a server that tells its transmitter empty", told, false, EWriteEnd::Done, false},
        {"a server holding past the stall limit", holding, false, EWriteEnd::Held, true},
        {"a server holding until Cancel", holding, true, EWriteEnd::Cancelled, true},
    };
    for (const CCase& c : cases) {
        SCOPED_TRACE(c.m_pszName);
        CTelnetPeer peer(c.m_script);
        CSerialPort port;
        const std::string strUrl = peer.Url();
        ASSERT_EQ(port.Open(strUrl.c_str(), 38400, "N81"), 1);
        port.SetStallLimit(c.m_bCancel ? 60000 : 300);
        port.SetCancelCheck([&] { return c.m_bCancel; });
        std::vector<uint8_t> piece(1000, 0x3C);
        ASSERT_EQ(port.WriteBlock(piece.data(), 1000), 1);
        peer.ClearSeen();
        port.Close();
        EXPECT_EQ(port.GetWriteEnd(), c.m_eEnd);
        bool bOutputPurged = false;
        for (const auto& command : peer.ComCommands())
            bOutputPurged |=
                command.size() == 2 && command[0] == telnet::kComPurgeData && (command[1] & 2) != 0;
        EXPECT_EQ(bOutputPurged, c.m_bOutputPurged);
    }
}
