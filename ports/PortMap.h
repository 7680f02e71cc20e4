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
// 3. A name that starts with "/" is a device path already.
#include <string>
#include <vector>

class CPortMap {
public:
    // The roots are parameters so that tests can build their own trees.
    CPortMap(std::string strDevRoot, std::string strSysRoot, std::string strPortsDir);
    // The machine's own /dev and /sys, and ${XDG_CONFIG_HOME:-$HOME/.config}/versionup/ports.
    static CPortMap System();
    static std::string DefaultPortsDir();

    // The device for strPort, "" when it maps to none.
    std::string Resolve(const std::string& strPort) const;
    // Present serial devices in COM order (full paths under the /dev root).
    std::vector<std::string> ListPresent() const;
    // Every COM number that names a port here, in number order: on Linux each number with an
    // entry in the ports folder (a link to a missing device included: the operator meant it)
    // and the unlinked numbers the present devices take; on Windows the numbers the serial
    // drivers have registered.
    std::vector<int> ListComNumbers() const;

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

// The highest N of a "COMN:" name the command line takes: every number the system hands out
// (USB adapters often get one above 4).
#ifdef _WIN32
constexpr int kHighestCommandLinePort = 256;
#else
constexpr int kHighestCommandLinePort = 255;
#endif

// N for "COMN:" / "COMN" (any case), 0 when strPort is no such name.
int ParseComNumber(const std::string& strPort);
