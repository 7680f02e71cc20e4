#include "ports/PortMap.h"

#include <algorithm>
#include <cctype>
#include <cwctype>

#include "platform/Win32Api.h"
#include "platform/WinText.h"
#include "ports/NetSerialDevice.h"

// On Windows "COMn:" is the system's own COMn; there is no map to read.

CPortMap::CPortMap(std::string strDevRoot, std::string strSysRoot, std::string strPortsDir)
    : m_strDevRoot(std::move(strDevRoot)), m_strSysRoot(std::move(strSysRoot)),
      m_strPortsDir(std::move(strPortsDir)) {}

CPortMap CPortMap::System() {
    return CPortMap("", "", "");
}

std::string CPortMap::DefaultPortsDir() {
    return "";
}

namespace {

// What a driver's entry in SERIALCOMM says of the port, from the value's name (\Device\Serial0,
// \Device\VCP0, \Device\BthModem3, a modem's \Device\...Modem...).
EPortKind KindOf(const std::wstring& strDriverName) {
    std::wstring strLower = strDriverName;
    std::transform(strLower.begin(), strLower.end(), strLower.begin(), towlower);
    if (strLower.find(L"bthmodem") != std::wstring::npos)
        return EPortKind::Bluetooth;
    if (strLower.find(L"modem") != std::wstring::npos)
        return EPortKind::Modem;
    return EPortKind::Serial;
}

} // namespace

// The names the serial drivers have registered, e.g. COM1 and COM7. A port is listed while its
// driver is loaded; whether it opens is for the caller to find out.
CPortTable CPortMap::Map() const {
    CPortTable table;
    HKEY hKey = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &hKey) !=
        ERROR_SUCCESS)
        return table;
    for (DWORD i = 0;; ++i) {
        wchar_t szName[256];
        wchar_t szValue[64];
        DWORD dwName = 256;
        DWORD dwValue = sizeof szValue;
        DWORD dwType = 0;
        const LONG nResult = RegEnumValueW(hKey, i, szName, &dwName, nullptr, &dwType,
                                           reinterpret_cast<BYTE*>(szValue), &dwValue);
        if (nResult == ERROR_NO_MORE_ITEMS)
            break;
        if (nResult != ERROR_SUCCESS || dwType != REG_SZ)
            continue;
        const std::wstring strValue(szValue, wcsnlen(szValue, dwValue / sizeof(wchar_t)));
        const int nCom = ParseComNumber(Utf8Of(strValue));
        // Two drivers may list one name; the first keeps it.
        if (nCom && !table.Find(nCom))
            table.m_entries.push_back(
                {nCom, "\\\\.\\COM" + std::to_string(nCom), KindOf(std::wstring(szName, dwName))});
    }
    RegCloseKey(hKey);
    std::sort(table.m_entries.begin(), table.m_entries.end(),
              [](const CPortEntry& a, const CPortEntry& b) { return a.m_nCom < b.m_nCom; });
    return table;
}

std::vector<std::string> CPortMap::ListPresent() const {
    std::vector<std::string> paths;
    for (const CPortEntry& entry : Map().m_entries)
        paths.push_back(entry.m_strDevice);
    return paths;
}

void SetSystemDeviceRoots(const std::string&, const std::string&) {}

namespace {

// A name that is a device path already (\\.\...) is taken as it is.
std::string DevicePathOf(const std::string& strPort) {
    if (strPort.rfind("\\\\", 0) == 0)
        return strPort;
    const int nCom = ParseComNumber(strPort);
    return nCom ? "\\\\.\\COM" + std::to_string(nCom) : std::string();
}

} // namespace

// The ports the drivers have registered; the open then tells whether one is there now.
std::string CPortMap::Resolve(const std::string& strPort) const {
    const std::string strPath = DevicePathOf(strPort);
    for (const CPortEntry& entry : Map().m_entries) {
        if (!strPath.empty() && entry.m_strDevice == strPath)
            return strPath;
    }
    return "";
}

bool CPortMap::IsPhantom(const std::string&) const {
    return false;
}

// Any COMn opens as \\.\COMn, registered or not: an adapter plugged in a moment ago may not be
// listed yet, and the open names the cause when it is not there.
std::string ResolvePortDevice(const std::string& strPort) {
    if (IsNetworkPortName(strPort))
        return strPort;
    return DevicePathOf(strPort);
}

bool CPortMap::IsConsole(const std::string&) const {
    return false;
}

// Windows names a port one way only once the path is spelt alike.
bool IsSameDevice(const std::string& strFirst, const std::string& strSecond) {
    auto lower = [](std::string str) {
        std::transform(str.begin(), str.end(), str.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return str;
    };
    return lower(strFirst) == lower(strSecond);
}

// A serial console is a Linux arrangement; no COM port of Windows is one.
bool IsSystemConsolePort(const std::string&) {
    return false;
}
