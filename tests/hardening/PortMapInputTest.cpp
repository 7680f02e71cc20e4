// Port names that lead somewhere wrong: links to nothing, to files that are no serial port, in a
// loop, and a ports folder the operator cannot read. Open must fail at once with a cause a person
// can act on, leak nothing, and the same name must open as soon as it leads to a real port.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "device/OpenFailure.h"
#include "ports/PortMap.h"
#include "serial/SerialPort.h"
#include "sim/PtyLink.h"
#include "tests/support/SimPorts.h"
#include "tests/support/TempDir.h"
#include "tests/support/Unprivileged.h"

namespace fs = std::filesystem;

namespace {

int CountOpenFds() {
    int nCount = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd"))
        ++nCount;
    return nCount;
}

TEST(PortMapInput, LinksToWhatIsNoSerialPortFailAtOnceWithTheirCause) {
    TestPortsDir();
    CTempDir dir;
    std::ofstream(dir / "file") << "not a port";
    fs::create_directory(dir / "folder");
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0666), 0);
    fs::create_symlink(dir / "loop-b", dir / "loop-a");
    fs::create_symlink(dir / "loop-a", dir / "loop-b");
    fs::create_symlink("/nonexistent/ttyUSB0", dir / "chain");

    const struct {
        const char* m_pszName;
        std::string m_strTarget;
        int m_nErrno;
    } cases[] = {
        {"a regular file", dir / "file", ENOTTY},
        {"a folder", dir / "folder", EISDIR},
        {"a FIFO nobody writes to", dir / "fifo", ENOTTY},
        {"a character device that is no terminal", "/dev/null", ENOTTY},
        {"a loop of links", dir / "loop-a", ELOOP},
        {"a link to a dangling link", dir / "chain", ENOENT},
        {"a relative link to nothing", "../../no-such-tty", ENOENT},
    };
    CPtyLink cable;
    ASSERT_TRUE(cable.Open(dir.Path().string(), 9)); // a real port to switch to afterwards
    CSimPorts ports;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.m_pszName);
        ports.LinkTo(1, c.m_strTarget);
        const int nFds = CountOpenFds();
        // First in a child: an open that blocks (on a FIFO, say) fails this case only.
        const int nChild = RunInChild(
            [] {
                CSerialPort port;
                return port.Open("COM1:", 9600, "N81H") == 0 ? 0 : 1;
            },
            30000);
        ASSERT_NE(nChild, kChildHung) << "the open blocked";
        EXPECT_EQ(nChild, 0);
        {
            CSerialPort port;
            EXPECT_EQ(port.Open("COM1:", 9600, "N81H"), 0);
            EXPECT_EQ(port.GetOpenError().m_nErrno, c.m_nErrno)
                << std::strerror(port.GetOpenError().m_nErrno);
            EXPECT_FALSE(port.GetOpenError().m_strDevice.empty()) << "the person is told where";
        }
        EXPECT_EQ(CountOpenFds(), nFds) << "a failed open leaves nothing open";

        ports.LinkTo(1, cable.GetDevicePath());
        CSerialPort port;
        EXPECT_EQ(port.Open("COM1:", 9600, "N81H"), 1) << "the same name works once it is right";
    }
}

// A machine with one USB adapter that COM1 would fall back to, and a ports folder that maps COM1
// to another device.
class CMappedMachine {
public:
    CMappedMachine() {
        fs::create_directories(m_dir.Path() / "dev");
        fs::create_directories(m_dir.Path() / "sys/class/tty/ttyUSB0/device");
        std::ofstream(m_dir / "dev/ttyUSB0").put('\n');
        fs::create_directories(m_dir.Path() / "config/versionup/ports");
        fs::create_symlink("/dev/serial/by-id/usb-the-machines-adapter", PortsDir() + "/com1");
    }
    std::string PortsDir() const { return m_dir / "config/versionup/ports"; }
    std::string Fallback() const { return m_dir / "dev/ttyUSB0"; }
    std::string ConfigHome() const { return m_dir / "config"; }
    CPortMap Map() const { return CPortMap(m_dir / "dev", m_dir / "sys", PortsDir()); }

private:
    CTempDir m_dir;
};

TEST(PortMapInput, UnreadablePortsFolderNeverFallsBackToAnotherDevice) {
    // The operator mapped COM1 to the machine's adapter. When that mapping cannot be read, COM1 is
    // not the first adapter present: the probe or, worse, the upgrade would go to another device.
    CMappedMachine machine;
    ASSERT_EQ(machine.Map().Resolve("COM1:"), "/dev/serial/by-id/usb-the-machines-adapter");
    // Neither readable nor searchable; readable but not searchable.
    for (const char* pszMode : {"000", "600"}) {
        SCOPED_TRACE(std::string("ports folder mode ") + pszMode);
        const auto mode = static_cast<mode_t>(std::strtol(pszMode, nullptr, 8));
        ASSERT_EQ(chmod(machine.PortsDir().c_str(), mode), 0);
        const int nResult = RunAsNobody([&] {
            const std::string strDevice = machine.Map().Resolve("COM1:");
            if (strDevice == machine.Fallback())
                return 1;
            // Nor is every number a port: the whole map is the folder's error.
            const CPortTable table = machine.Map().Map();
            if (table.m_folderError != std::errc::permission_denied || !table.m_entries.empty())
                return 6;
            // Opened the way the wizard opens it: the cause names the ports folder's entry.
            setenv("XDG_CONFIG_HOME", machine.ConfigHome().c_str(), 1);
            CSerialPort port;
            if (port.Open("COM1:", 9600, "N81H") != 0)
                return 2;
            if (port.GetOpenError().m_nErrno != EACCES)
                return 3;
            if (port.GetOpenError().m_strDevice != machine.PortsDir() + "/com1")
                return 4;
            // "Wrong port." says what to mend: the folder, not the dialout group.
            const std::string strDetail =
                DescribeOpenFailure("COM1:", port.GetOpenError(), ELanguage::English);
            if (strDetail.find("The ports folder " + machine.PortsDir() + " cannot be read") ==
                    std::string::npos ||
                strDetail.find("dialout") != std::string::npos)
                return 5;
            return 0;
        });
        EXPECT_EQ(nResult, 0) << "1: fell back to the first adapter; 2: opened; 3: wrong cause; "
                                 "4: cause names the wrong path; 5: the detail does not name the "
                                 "unreadable folder; 6: the map lists ports";
    }
}

} // namespace
