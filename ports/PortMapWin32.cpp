#include "ports/PortMap.h"

#include <algorithm>
#include <cctype>

#include "platform/Win32Api.h"
#include "platform/WinText.h"
#include "ports/NetSerialDevice.h"

// On Windows "COMn:" is the system's own COMn; there is no map to read.

namespace {

constexpr int kMaxComNumber = 256;

} // namespace

int ParseComNumber(const std::string& strPort) {
    if (strPort.size() < 4 || strPort.size() > 8)
        return 0;
    for (int i = 0; i < 3; ++i) {
        if (std::toupper(static_cast<unsigned char>(strPort[i])) != "COM"[i])
            return 0;
    }
    std::string strRest = strPort.substr(3);
    if (!strRest.empty() && strRest.back() == ':')
        strRest.pop_back();
    if (strRest.empty() || strRest[0] == '0' ||
        !std::all_of(strRest.begin(), strRest.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return 0;
    const int nNumber = std::stoi(strRest);
    return nNumber <= kMaxComNumber ? nNumber : 0;
}

CPortMap::CPortMap(std::string strDevRoot, std::string strSysRoot, std::string strPortsDir)
    : m_strDevRoot(std::move(strDevRoot)), m_strSysRoot(std::move(strSysRoot)),
      m_strPortsDir(std::move(strPortsDir)) {}

CPortMap CPortMap::System() {
    return CPortMap("", "", "");
}

std::string CPortMap::DefaultPortsDir() {
    return "";
}

// The names the serial drivers have registered, e.g. COM1 and COM7, as device paths. A port is
// listed while its driver is loaded; whether it opens is for the caller to find out.
std::vector<std::string> CPortMap::ListPresent() const {
    std::vector<std::pair<int, std::string>> ports;
    HKEY hKey = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &hKey) !=
        ERROR_SUCCESS)
        return {};
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
        const std::string strCom = Utf8Of(strValue);
        if (const int nCom = ParseComNumber(strCom))
            ports.emplace_back(nCom, "\\\\.\\COM" + std::to_string(nCom));
    }
    RegCloseKey(hKey);
    std::sort(ports.begin(), ports.end());
    std::vector<std::string> paths;
    for (auto& port : ports)
        paths.push_back(port.second);
    return paths;
}

std::vector<int> CPortMap::ListComNumbers() const {
    std::vector<int> numbers;
    for (const std::string& strPath : ListPresent())
        numbers.push_back(ParseComNumber(strPath.substr(4)));
    // Two drivers may list one name.
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    return numbers;
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
    const std::vector<std::string> present = ListPresent();
    return std::find(present.begin(), present.end(), strPath) != present.end() ? strPath : "";
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
