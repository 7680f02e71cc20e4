#include "ports/PortMap.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "tests/support/TempDir.h"

namespace fs = std::filesystem;

namespace {

// A /dev and /sys of our own, with whatever serial devices a test wants.
class CFakeMachine {
public:
    CFakeMachine() {
        fs::create_directories(m_root / "dev");
        fs::create_directories(m_root / "sys/class/tty");
        fs::create_directories(m_root / "ports");
    }

    // nType < 0: no type attribute; bDevice false: no device behind the name (a phantom).
    void AddTty(const std::string& strName, bool bDevice = true, int nType = -1) {
        std::ofstream(m_root / "dev" / strName).put('\n');
        const fs::path cls = m_root / "sys/class/tty" / strName;
        fs::create_directories(cls);
        if (bDevice)
            fs::create_directories(cls / "device");
        if (nType >= 0)
            std::ofstream(cls / "type") << nType << "\n";
    }
    void Link(const std::string& strName, const std::string& strTarget) {
        fs::create_symlink(strTarget, m_root / "ports" / strName);
    }
    std::string Dev(const std::string& strName) const {
        return (m_root / "dev" / strName).string();
    }
    std::string Ports() const { return (m_root / "ports").string(); }
    CPortMap Map() const {
        return CPortMap((m_root / "dev").string(), (m_root / "sys").string(),
                        (m_root / "ports").string());
    }
    const fs::path& Root() const { return m_root; }

private:
    CTempDir m_dir{"versionup-ports"};
    const fs::path& m_root = m_dir.Path();
};

} // namespace

TEST(PortMapTest, NamesMapThroughLinksThenPresentDevicesThenPaths) {
    CFakeMachine machine;
    machine.AddTty("ttyS0", true, 4);
    machine.AddTty("ttyS1", true, 0); // reported, type unknown: not there
    machine.AddTty("ttyS2", false);   // reported, nothing behind it
    machine.AddTty("ttyS10", true, 4);
    machine.AddTty("ttyUSB1");
    machine.AddTty("ttyUSB0");
    machine.AddTty("ttyACM0");
    machine.AddTty("tty");
    machine.AddTty("ttyS");
    machine.AddTty("ttyUSBx");
    machine.Link("com2", "/dev/serial/by-id/usb-adapter-gone");
    machine.Link("com3", "../dev/ttyACM0");

    const std::vector<std::string> present = {machine.Dev("ttyS0"), machine.Dev("ttyS10"),
                                              machine.Dev("ttyUSB0"), machine.Dev("ttyUSB1"),
                                              machine.Dev("ttyACM0")};
    const CPortMap map = machine.Map();
    EXPECT_EQ(map.ListPresent(), present);

    const struct {
        const char* m_pszPort;
        std::string m_strDevice;
    } cases[] = {
        {"COM1:", machine.Dev("ttyS0")},
        {"COM2:", "/dev/serial/by-id/usb-adapter-gone"}, // a link wins even when its device is gone
        {"COM3:", machine.Dev("ttyACM0")},               // relative to the ports folder
        // The unlinked numbers take the present devices that no link names: ttyACM0 is COM3's.
        {"COM4:", machine.Dev("ttyS10")},
        {"COM5:", machine.Dev("ttyUSB0")},
        {"COM6:", machine.Dev("ttyUSB1")},
        {"COM7:", ""},
        {"com1", machine.Dev("ttyS0")},
        {"/dev/ttyS7", "/dev/ttyS7"},
        {"COM0:", ""},
        {"COM1:x", ""},
        {"COM:", ""},
        {"LPT1:", ""},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(map.Resolve(c.m_pszPort), c.m_strDevice) << c.m_pszPort;
}

// A regular file comN whose first line is a device server's port makes COMN that port; one that
// holds anything else is opened as it is (and fails as no serial port), never skipped over.
TEST(PortMapTest, FileWithANetworkNameMapsToTheDeviceServer) {
    CFakeMachine machine;
    machine.AddTty("ttyUSB0");
    std::ofstream(machine.Ports() + "/com1") << "  rfc2217://10.0.0.7:4001 \r\nsecond line\n";
    std::ofstream(machine.Ports() + "/com2") << "/dev/ttyUSB0\n";
    std::ofstream(machine.Ports() + "/com3");
    const CPortMap map = machine.Map();
    EXPECT_EQ(map.Resolve("COM1:"), "rfc2217://10.0.0.7:4001");
    EXPECT_EQ(map.Resolve("COM2:"), machine.Ports() + "/com2");
    EXPECT_EQ(map.Resolve("COM3:"), machine.Ports() + "/com3");
    // The files keep their numbers: the present device is the first unlinked one's.
    EXPECT_EQ(map.Resolve("COM4:"), machine.Dev("ttyUSB0"));
    EXPECT_EQ(map.Resolve("rfc2217://box:2001"), "rfc2217://box:2001");
}

// A device a link names answers to that name only; the COM numbers without a link share out the
// others in order, whichever numbers the links took and however they name their devices.
TEST(PortMapTest, UnlinkedNumbersTakeThePresentDevicesNoLinkNames) {
    struct CCase {
        const char* m_pszName;
        std::vector<std::pair<const char*, const char*>> m_links; // comN, device under dev/
        std::vector<const char*> m_expected;                      // COM1 .. COM4, "" for none
    };
    const CCase cases[] = {
        {"com1 names the second device",
         {{"com1", "ttyUSB0"}},
         {"ttyUSB0", "ttyS0", "ttyUSB1", ""}},
        {"com2 names the first device", {{"com2", "ttyS0"}}, {"ttyUSB0", "ttyS0", "ttyUSB1", ""}},
        {"com3 names the last device", {{"com3", "ttyUSB1"}}, {"ttyS0", "ttyUSB0", "ttyUSB1", ""}},
        {"two links, reversed",
         {{"com1", "ttyUSB1"}, {"com2", "ttyUSB0"}},
         {"ttyUSB1", "ttyUSB0", "ttyS0", ""}},
        {"through another path",
         {{"com1", "by-id/usb-adapter"}},
         {"by-id/usb-adapter", "ttyS0", "ttyUSB1", ""}},
        {"to a missing device", {{"com2", "ttyUSB7"}}, {"ttyS0", "ttyUSB7", "ttyUSB0", "ttyUSB1"}},
        {"a number beyond COM4", {{"com9", "ttyS0"}}, {"ttyUSB0", "ttyUSB1", "", ""}},
    };
    for (const CCase& c : cases) {
        SCOPED_TRACE(c.m_pszName);
        CFakeMachine machine;
        for (const char* pszName : {"ttyS0", "ttyUSB0", "ttyUSB1"})
            machine.AddTty(pszName, true, 4);
        fs::create_directories(machine.Root() / "dev/by-id");
        fs::create_symlink("../ttyUSB0", machine.Root() / "dev/by-id/usb-adapter");
        for (const auto& [pszLink, pszDevice] : c.m_links)
            machine.Link(pszLink, machine.Dev(pszDevice));
        const CPortMap map = machine.Map();
        for (int n = 1; n <= 4; ++n) {
            const std::string strExpected =
                *c.m_expected[n - 1] ? machine.Dev(c.m_expected[n - 1]) : "";
            EXPECT_EQ(map.Resolve("COM" + std::to_string(n) + ":"), strExpected) << "COM" << n;
        }
    }
}

// The numbers the lists offer above COM4 are exactly those that name a port: every listed number
// resolves, and no other one does.
TEST(PortMapTest, ListedComNumbersAreThoseThatResolve) {
    struct CCase {
        const char* m_pszName;
        int m_nDevices;                                           // ttyUSB0 .. ttyUSB<n-1>
        std::vector<std::pair<const char*, const char*>> m_links; // comN, device under dev/
        std::vector<int> m_expected;
    };
    const CCase cases[] = {
        {"nothing at all", 0, {}, {}},
        {"six adapters", 6, {}, {1, 2, 3, 4, 5, 6}},
        {"an adapter linked as com7", 1, {{"com7", "ttyUSB0"}}, {7}},
        {"com1 to com4 gone, com7 and a second adapter",
         2,
         {{"com1", "gone1"},
          {"com2", "gone2"},
          {"com3", "gone3"},
          {"com4", "gone4"},
          {"com7", "ttyUSB1"}},
         {1, 2, 3, 4, 5, 7}},
        {"links take numbers the devices skip",
         3,
         {{"com2", "gone"}, {"com3", "ttyUSB2"}},
         {1, 2, 3, 4}},
        {"com12 to a missing adapter", 0, {{"com12", "by-id/usb-gone"}}, {12}},
    };
    for (const CCase& c : cases) {
        SCOPED_TRACE(c.m_pszName);
        CFakeMachine machine;
        for (int i = 0; i < c.m_nDevices; ++i)
            machine.AddTty("ttyUSB" + std::to_string(i));
        for (const auto& [pszLink, pszDevice] : c.m_links)
            machine.Link(pszLink, machine.Dev(pszDevice));
        const CPortMap map = machine.Map();
        std::vector<int> listed;
        for (const CPortEntry& entry : map.Map().m_entries)
            listed.push_back(entry.m_nCom);
        EXPECT_EQ(listed, c.m_expected);
        for (int n = 1; n <= 20; ++n) {
            const bool bListed = std::find(listed.begin(), listed.end(), n) != listed.end();
            EXPECT_EQ(bListed, !map.Resolve("COM" + std::to_string(n) + ":").empty()) << "COM" << n;
        }
    }
}

TEST(PortMapTest, UsbAdapterIsCom1OnAPcWithoutUart) {
    CFakeMachine machine;
    for (const char* pszName : {"ttyS0", "ttyS1", "ttyS2", "ttyS3"})
        machine.AddTty(pszName, true, 0);
    machine.AddTty("ttyUSB0");
    const CPortMap map = machine.Map();
    EXPECT_EQ(map.Resolve("COM1:"), machine.Dev("ttyUSB0"));
    EXPECT_EQ(map.Resolve("COM2:"), "");

    // No ports folder at all is the ordinary case.
    fs::remove_all(machine.Root() / "ports");
    EXPECT_EQ(map.Resolve("COM1:"), machine.Dev("ttyUSB0"));
}

TEST(PortMapTest, PortsFolderFollowsXdgConfigHome) {
    const char* pszSaved = getenv("XDG_CONFIG_HOME");
    const std::string strSaved = pszSaved ? pszSaved : "";
    setenv("XDG_CONFIG_HOME", "/tmp/cfg", 1);
    EXPECT_EQ(CPortMap::DefaultPortsDir(), "/tmp/cfg/versionup/ports");
    setenv("XDG_CONFIG_HOME", "", 1);
    const char* pszHome = getenv("HOME");
    EXPECT_EQ(CPortMap::DefaultPortsDir(),
              std::string(pszHome ? pszHome : "") + "/.config/versionup/ports");
    if (pszSaved)
        setenv("XDG_CONFIG_HOME", strSaved.c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");
}

TEST(PortMapTest, ConsoleIsToldByTheKernelsActiveList) {
    CFakeMachine machine;
    machine.AddTty("ttyS0", true, 4);
    machine.AddTty("ttyS1", true, 4);
    machine.AddTty("ttyUSB0");
    // No console list at all (a container, an old kernel): nothing is the console.
    EXPECT_FALSE(machine.Map().IsConsole(machine.Dev("ttyS0")));

    fs::create_directories(machine.Root() / "sys/class/tty/console");
    std::ofstream(machine.Root() / "sys/class/tty/console/active") << "tty0 ttyS0\n";
    const CPortMap map = machine.Map();
    EXPECT_TRUE(map.IsConsole(map.Resolve("COM1:")));  // ttyS0, the first present device
    EXPECT_FALSE(map.IsConsole(map.Resolve("COM2:"))); // ttyS1
    // Through a link of the operator's the console is still the console.
    machine.Link("com3", machine.Dev("ttyS0"));
    EXPECT_FALSE(map.IsConsole(map.Resolve("COM1:"))); // now ttyS1
    EXPECT_TRUE(map.IsConsole(map.Resolve("COM3:")));
    EXPECT_TRUE(map.IsConsole(machine.Ports() + "/com3"));
    EXPECT_FALSE(map.IsConsole(machine.Dev("ttyS00")));
    EXPECT_FALSE(map.IsConsole(""));
    EXPECT_TRUE(map.IsConsole("/dev/console"));
}

// One reading of a COM name on both systems: what Windows would open, and nothing else.
TEST(PortMapTest, ComNumbersAreReadAsWindowsNamesThem) {
    const struct {
        const char* m_pszName;
        int m_nCom;
    } cases[] = {
        {"COM1:", 1},
        {"com7", 7},
        {"Com16:", 16},
        {"COM256", 256},
        {"COM256:", 256},
        {"COM257", 0},
        {"COM0", 0},
        {"COM01", 0},
        {"COM007:", 0},
        {"COM", 0},
        {"COM:", 0},
        {"COM1::", 0},
        {"COM1x", 0},
        {"COM-1", 0},
        {"COM 1", 0},
        {"LPT1", 0},
        {"COM99999999999999999999", 0},
        {"", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseComNumber(c.m_pszName), c.m_nCom) << c.m_pszName;
}

// A ports folder that is there but cannot be looked into gives no ports at all and says why;
// one that is simply missing is the ordinary case.
TEST(PortMapTest, PortsFolderThatCannotBeReadIsAnErrorNotAListOfEveryNumber) {
    CFakeMachine machine;
    machine.AddTty("ttyUSB0");
    fs::remove_all(machine.Root() / "ports");
    CPortTable table = machine.Map().Map();
    EXPECT_FALSE(table.m_folderError);
    ASSERT_EQ(table.m_entries.size(), 1u);
    EXPECT_EQ(table.m_entries[0].m_strDevice, machine.Dev("ttyUSB0"));

    // The folder is a file, or lies under one.
    std::ofstream(machine.Root() / "ports") << "rfc2217://10.0.0.7:4001\n";
    for (const std::string& strFolder : {machine.Ports(), machine.Ports() + "/inner"}) {
        SCOPED_TRACE(strFolder);
        const CPortMap map((machine.Root() / "dev").string(), (machine.Root() / "sys").string(),
                           strFolder);
        table = map.Map();
        EXPECT_EQ(table.m_folderError, std::errc::not_a_directory);
        EXPECT_TRUE(table.m_entries.empty());
        // A COM name still leads to the folder, so that its open fails with the folder's cause.
        EXPECT_EQ(map.Resolve("COM1:"), strFolder + "/com1");
    }
}

// A folder that says it names every port keeps the present devices off the free numbers.
TEST(PortMapTest, CompleteFolderKeepsThePresentDevicesOut) {
    CFakeMachine machine;
    machine.AddTty("ttyS0", true, 4);
    machine.AddTty("ttyUSB0");
    machine.Link("com2", machine.Dev("ttyUSB7"));
    machine.Link("com9", "../dev/ttyUSB0");
    std::ofstream(machine.Ports() + "/" + kCompletePortsMarker);
    const CPortMap map = machine.Map();
    const CPortTable table = map.Map();
    ASSERT_EQ(table.m_entries.size(), 2u);
    EXPECT_EQ(table.m_entries[0].m_nCom, 2);
    EXPECT_EQ(table.m_entries[0].m_strDevice, machine.Dev("ttyUSB7"));
    EXPECT_EQ(table.m_entries[1].m_nCom, 9);
    EXPECT_EQ(table.m_entries[1].m_strDevice, machine.Dev("ttyUSB0"));
    EXPECT_EQ(map.Resolve("COM1:"), "") << "ttyS0 would be COM1 without the marker";
    EXPECT_EQ(map.Resolve("COM3:"), "");
}
