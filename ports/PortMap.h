#pragma once
// Which Linux device a port name of the wizard ("COM1:", "COM7:") stands for on this machine.
//
// 1. A link comN (lower case) in the ports folder names the device for COMN. A link to a device
//    that is not there means the port is absent; the link's target is still the answer, so the
//    operator is told which device is missing.
// 2. Otherwise the serial devices present are listed ttyS*, ttyUSB*, ttyACM* (each group by
//    number), leaving out the on-board ports a PC reports but does not have and the devices a
//    link already names. The unlinked COM numbers, in order, take these devices in order: with
//    com1 -> ttyUSB0 and ttyS0, ttyUSB0, ttyUSB1 present, COM2 is ttyS0 and COM3 ttyUSB1.
//    A ports folder holding a file named "complete" names every port there is: the present
//    devices then take no numbers at all (a simulated setup keeps the computer's ports out so).
// 3. A name that starts with "/" is a device path already.
#include <string>
#include <system_error>
#include <vector>

// What stands behind a COM number, as far as discovery must care: a Bluetooth port's open waits
// while the radio looks for its peer, and a modem would take the query for a command.
enum class EPortKind { Serial, Bluetooth, Modem };

// One COM number of this computer and what it opens.
struct CPortEntry {
    int m_nCom = 0;
    // A path, a link's target or an rfc2217:// name; on Windows \\.\COMn.
    std::string m_strDevice;
    EPortKind m_eKind = EPortKind::Serial;
};

// Every COM number that names a port here, in number order.
struct CPortTable {
    std::vector<CPortEntry> m_entries;
    // The ports folder exists but could not be looked into (EACCES, ENOTDIR): then m_entries is
    // empty, since which number stands for which device is unknown.
    std::error_code m_folderError;

    const CPortEntry* Find(int nCom) const;
};

// The file whose presence in a ports folder says that its entries are all the ports there are.
constexpr const char* kCompletePortsMarker = "complete";

class CPortMap {
public:
    // The roots are parameters so that tests can build their own trees.
    CPortMap(std::string strDevRoot, std::string strSysRoot, std::string strPortsDir);
    // The machine's own /dev and /sys, and ${XDG_CONFIG_HOME:-$HOME/.config}/versionup/ports.
    static CPortMap System();
    static std::string DefaultPortsDir();

    // The whole map, read once: on Linux each number with an entry in the ports folder (a link to
    // a missing device included: the operator meant it), then the present devices on the
    // unlinked numbers; on Windows the numbers the serial drivers have registered.
    CPortTable Map() const;
    // The device for strPort, "" when it maps to none. When the ports folder cannot be read, a
    // COM name gives the folder's entry, so that the open fails with the folder's own cause.
    std::string Resolve(const std::string& strPort) const;
    // Present serial devices in COM order (full paths under the /dev root).
    std::vector<std::string> ListPresent() const;

    const std::string& GetPortsDir() const { return m_strPortsDir; }

    // Whether strDevice (a path, links followed) is where the kernel writes its console
    // (class/tty/console/active under the sysfs root): a probe must not write into it.
    bool IsConsole(const std::string& strDevice) const;

private:
    bool IsPhantom(const std::string& strName) const;

    std::string m_strDevRoot;
    std::string m_strSysRoot;
    std::string m_strPortsDir;
};

// Where System() looks for devices and their sysfs entries, instead of /dev and /sys, from now
// on; empty strings give the machine's own back. Tests use it to keep the computer's own serial
// ports out of discovery.
void SetSystemDeviceRoots(const std::string& strDevRoot, const std::string& strSysRoot);

// The device a "COMn:" name maps to on this machine, "" when none.
std::string ResolvePortDevice(const std::string& strPort);

// Whether two device paths name one device (links followed, a device node by its number); paths
// that cannot be looked at are compared as written.
bool IsSameDevice(const std::string& strFirst, const std::string& strSecond);

// Whether the device strPort maps to on this machine is the system console.
bool IsSystemConsolePort(const std::string& strPort);

// The highest N of a "COMN:" name: Windows hands out numbers up to 256, and a USB adapter often
// gets one above 4.
constexpr int kHighestComNumber = 256;

// N for "COMN:" / "COMN" ("COM" in any case, N without leading zeros, 1 to kHighestComNumber),
// 0 when strPort is no such name.
int ParseComNumber(const std::string& strPort);
