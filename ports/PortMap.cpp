#include "ports/PortMap.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "ports/NetSerialDevice.h"

namespace fs = std::filesystem;

namespace {

// Number after strPrefix when strName is strPrefix followed by digits only, else -1.
long DeviceNumber(const std::string& strName, const std::string& strPrefix) {
    if (strName.size() <= strPrefix.size() || strName.compare(0, strPrefix.size(), strPrefix) != 0)
        return -1;
    long nNumber = 0;
    for (size_t i = strPrefix.size(); i < strName.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(strName[i])) || nNumber > 100000)
            return -1;
        nNumber = nNumber * 10 + (strName[i] - '0');
    }
    return nNumber;
}

} // namespace

CPortMap::CPortMap(std::string strDevRoot, std::string strSysRoot, std::string strPortsDir)
    : m_strDevRoot(std::move(strDevRoot)), m_strSysRoot(std::move(strSysRoot)),
      m_strPortsDir(std::move(strPortsDir)) {}

std::string CPortMap::DefaultPortsDir() {
    const char* pszConfig = std::getenv("XDG_CONFIG_HOME");
    std::string strBase;
    if (pszConfig && *pszConfig) {
        strBase = pszConfig;
    } else {
        const char* pszHome = std::getenv("HOME");
        strBase = std::string(pszHome ? pszHome : "") + "/.config";
    }
    return strBase + "/versionup/ports";
}

namespace {

// Whether strDevice is one of the devices the ports folder's entries name.
bool IsNamedByEntry(const std::string& strDevice, const std::vector<struct stat>& linked) {
    struct stat stDevice {};
    return stat(strDevice.c_str(), &stDevice) == 0 &&
           std::any_of(linked.begin(), linked.end(), [&](const struct stat& stLinked) {
               return stLinked.st_dev == stDevice.st_dev && stLinked.st_ino == stDevice.st_ino;
           });
}

std::string g_strDevRoot;
std::string g_strSysRoot;

} // namespace

void SetSystemDeviceRoots(const std::string& strDevRoot, const std::string& strSysRoot) {
    g_strDevRoot = strDevRoot;
    g_strSysRoot = strSysRoot;
}

CPortMap CPortMap::System() {
    return CPortMap(g_strDevRoot.empty() ? "/dev" : g_strDevRoot,
                    g_strSysRoot.empty() ? "/sys" : g_strSysRoot, DefaultPortsDir());
}

bool CPortMap::IsPhantom(const std::string& strName) const {
    // A PC reports four on-board UARTs whether it has them or not; the ones it does not have
    // come without a device behind them or with port type 0 (unknown).
    const std::string strClass = m_strSysRoot + "/class/tty/" + strName;
    std::error_code ec;
    if (!fs::exists(strClass + "/device", ec))
        return true;
    std::ifstream typeFile(strClass + "/type");
    int nType = -1;
    if (typeFile >> nType)
        return nType == 0;
    return false;
}

std::vector<std::string> CPortMap::ListPresent() const {
    static const char* const s_prefixes[] = {"ttyS", "ttyUSB", "ttyACM"};
    std::vector<std::string> present;
    for (const char* pszPrefix : s_prefixes) {
        std::vector<std::pair<long, std::string>> group;
        std::error_code ec;
        for (fs::directory_iterator it(m_strDevRoot, ec), end; !ec && it != end; it.increment(ec)) {
            const std::string strName = it->path().filename().string();
            const long nNumber = DeviceNumber(strName, pszPrefix);
            if (nNumber < 0 || IsPhantom(strName))
                continue;
            group.emplace_back(nNumber, strName);
        }
        std::sort(group.begin(), group.end());
        for (const auto& [nNumber, strName] : group)
            present.push_back(m_strDevRoot + "/" + strName);
    }
    return present;
}

// The first line of a regular file comN when it names a port on a device server; empty when
// it does not (the file is then opened as it is, and fails as no serial port).
static std::string ReadNetworkName(const std::string& strFile) {
    std::ifstream file(strFile);
    std::string strLine;
    if (!std::getline(file, strLine))
        return "";
    const size_t nBegin = strLine.find_first_not_of(" \t");
    const size_t nEnd = strLine.find_last_not_of(" \t\r");
    if (nBegin == std::string::npos)
        return "";
    strLine = strLine.substr(nBegin, nEnd - nBegin + 1);
    return IsNetworkPortName(strLine) ? strLine : "";
}

namespace {

// What the entry comN of the ports folder opens.
std::string EntryDevice(const std::string& strPortsDir, const std::string& strEntry,
                        const struct stat& stEntry) {
    if (S_ISREG(stEntry.st_mode)) {
        const std::string strNetwork = ReadNetworkName(strEntry);
        return strNetwork.empty() ? strEntry : strNetwork;
    }
    if (!S_ISLNK(stEntry.st_mode))
        return strEntry;
    std::error_code ec;
    fs::path target = fs::read_symlink(strEntry, ec);
    if (ec)
        return strEntry;
    if (target.is_relative())
        target = fs::path(strPortsDir) / target;
    return target.lexically_normal().string();
}

} // namespace

CPortTable CPortMap::Map() const {
    CPortTable table;
    // No folder is the ordinary case; one that is there but cannot be looked into must not let
    // the present devices slide onto the numbers its links may hold.
    struct stat stFolder {};
    if (stat(m_strPortsDir.c_str(), &stFolder) != 0) {
        if (errno != ENOENT) {
            table.m_folderError = std::error_code(errno, std::generic_category());
            return table;
        }
    } else if (!S_ISDIR(stFolder.st_mode)) {
        table.m_folderError = std::make_error_code(std::errc::not_a_directory);
        return table;
    }

    std::vector<struct stat> linked;
    std::vector<CPortEntry> entries;
    for (int n = 1; n <= kHighestComNumber; ++n) {
        const std::string strEntry = m_strPortsDir + "/com" + std::to_string(n);
        struct stat stEntry {};
        if (lstat(strEntry.c_str(), &stEntry) != 0) {
            if (errno == ENOENT)
                continue;
            table.m_folderError = std::error_code(errno, std::generic_category());
            return table;
        }
        entries.push_back({n, EntryDevice(m_strPortsDir, strEntry, stEntry)});
        // A link to a missing device names nothing present.
        struct stat stDevice {};
        if (stat(strEntry.c_str(), &stDevice) == 0)
            linked.push_back(stDevice);
    }

    struct stat stMarker {};
    const bool bComplete =
        lstat((m_strPortsDir + "/" + kCompletePortsMarker).c_str(), &stMarker) == 0;
    // The unlinked numbers, in order, take the present devices that no entry names: a device must
    // not answer to two names, nor one present device go without a name.
    std::vector<bool> taken(kHighestComNumber + 1, false);
    for (const CPortEntry& entry : entries)
        taken[static_cast<size_t>(entry.m_nCom)] = true;
    table.m_entries = std::move(entries);
    if (!bComplete) {
        int nNext = 1;
        for (const std::string& strDevice : ListPresent()) {
            if (IsNamedByEntry(strDevice, linked))
                continue;
            while (nNext <= kHighestComNumber && taken[static_cast<size_t>(nNext)])
                ++nNext;
            if (nNext > kHighestComNumber)
                break;
            table.m_entries.push_back({nNext++, strDevice});
        }
    }
    std::sort(table.m_entries.begin(), table.m_entries.end(),
              [](const CPortEntry& a, const CPortEntry& b) { return a.m_nCom < b.m_nCom; });
    return table;
}

std::string CPortMap::Resolve(const std::string& strPort) const {
    if (!strPort.empty() && strPort[0] == '/')
        return strPort;
    if (IsNetworkPortName(strPort))
        return strPort;
    const int nCom = ParseComNumber(strPort);
    if (nCom == 0)
        return "";
    const CPortTable table = Map();
    if (table.m_folderError)
        return m_strPortsDir + "/com" + std::to_string(nCom);
    const CPortEntry* pEntry = table.Find(nCom);
    return pEntry ? pEntry->m_strDevice : std::string();
}

bool CPortMap::IsConsole(const std::string& strDevice) const {
    if (strDevice.empty())
        return false;
    std::error_code ec;
    fs::path device = fs::weakly_canonical(strDevice, ec);
    if (ec)
        device = strDevice;
    if (device.filename() == "console")
        return true;
    // "tty0 ttyS0": every device the console writes to, the virtual terminals among them.
    std::ifstream active(m_strSysRoot + "/class/tty/console/active");
    for (std::string strName; active >> strName;) {
        if (device.filename() == strName)
            return true;
    }
    return false;
}

bool IsSameDevice(const std::string& strFirst, const std::string& strSecond) {
    struct stat first {
    }, second{};
    if (stat(strFirst.c_str(), &first) != 0 || stat(strSecond.c_str(), &second) != 0)
        return strFirst == strSecond;
    // Two nodes of one character device (a copy made with mknod) are one port all the same.
    if (S_ISCHR(first.st_mode) && S_ISCHR(second.st_mode))
        return first.st_rdev == second.st_rdev;
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool IsSystemConsolePort(const std::string& strPort) {
    const CPortMap map = CPortMap::System();
    return map.IsConsole(map.Resolve(strPort));
}

std::string ResolvePortDevice(const std::string& strPort) {
    return CPortMap::System().Resolve(strPort);
}
