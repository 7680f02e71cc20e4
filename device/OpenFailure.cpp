#include "device/OpenFailure.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/PortMap.h"
#include "resources/StringIds.h"

namespace {

enum class ECause { NotPresent, InUse, Denied, NotSerial, Other };

ECause CauseOf(int nErrno) {
    switch (nErrno) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR:
    case ELOOP:
        return ECause::NotPresent;
    case EBUSY:
    case EWOULDBLOCK:
        return ECause::InUse;
    case EACCES:
    case EPERM:
    case EROFS:
        return ECause::Denied;
    case ENOTTY:
        return ECause::NotSerial;
    default:
        return ECause::Other;
    }
}

std::string OsText(int nErrno) {
    if (nErrno == 0)
        return "the port settings were not accepted";
    return std::strerror(nErrno);
}

// Whether strPath names something inside strDir, compared as written: the map builds the path
// of a link it cannot look at from the folder's own name.
bool IsInside(const std::string& strPath, const std::string& strDir) {
    if (strDir.empty())
        return false;
    const std::filesystem::path dir = std::filesystem::path(strDir).lexically_normal();
    const std::filesystem::path rel =
        std::filesystem::path(strPath).lexically_normal().lexically_relative(dir);
    return !rel.empty() && *rel.begin() != ".." && *rel.begin() != ".";
}

std::string English(const std::string& strPort, const CPortError& error) {
    if (error.m_strDevice.empty())
        return strPort + " does not stand for any serial device on this computer (not present).";
    std::string str = strPort + " is " + error.m_strDevice + ".\n";
    switch (CauseOf(error.m_nErrno)) {
    case ECause::NotPresent:
        return str +
               "The device is not present: check that the cable or USB adapter is plugged in.";
    case ECause::InUse:
        return str + "The device is in use by another program. Close that program and try again.";
    case ECause::Denied:
        return str + "Permission denied. Join the \"dialout\" group (sudo usermod -aG dialout "
                     "$USER), then log out and in again.";
    case ECause::NotSerial:
        return str + "This device is not a serial port.";
    case ECause::Other:
        break;
    }
    return str + "The device could not be opened: " + OsText(error.m_nErrno) + ".";
}

std::string Japanese(const std::string& strPort, const CPortError& error) {
    if (error.m_strDevice.empty())
        return strPort + " に対応するシリアルデバイスがこのコンピューターにありません。";
    std::string str = strPort + " は " + error.m_strDevice + " です。\n";
    switch (CauseOf(error.m_nErrno)) {
    case ECause::NotPresent:
        return str +
               "デバイスが見つかりません。ケーブルまたは USB アダプターの接続を確認してください。";
    case ECause::InUse:
        return str + "デバイスは他のプログラムが使用中です。そのプログラムを終了してから、もう一度"
                     "お試しください。";
    case ECause::Denied:
        return str + "アクセスが拒否されました。ユーザーを \"dialout\" グループに追加し (sudo "
                     "usermod -aG "
                     "dialout $USER)、ログインし直してください。";
    case ECause::NotSerial:
        return str + "このデバイスはシリアルポートではありません。";
    case ECause::Other:
        break;
    }
    return str + "デバイスを開けませんでした: " + OsText(error.m_nErrno);
}

} // namespace

std::string DescribeOpenFailure(const std::string& strPort, const CPortError& error,
                                ELanguage eLanguage) {
    return DescribeOpenFailure(strPort, error, eLanguage, CPortMap::DefaultPortsDir());
}

std::string DescribeOpenFailure(const std::string& strPort, const CPortError& error,
                                ELanguage eLanguage, const std::string& strPortsDir) {
    // The device opened; its driver only would not hold the line as set.
    if (!error.m_strRefused.empty()) {
        const char* pszIs = eLanguage == ELanguage::Japanese ? " は " : " is ";
        const char* pszEnd = eLanguage == ELanguage::Japanese ? " です。\n" : ".\n";
        return strPort + pszIs + error.m_strDevice + pszEnd +
               FillPlaceholders(LoadString(kIdsPortRefusedSettings, eLanguage),
                                {error.m_strRefused});
    }
    // The map names a link inside the ports folder only when it could not look at it; joining
    // the dialout group would not help with that.
    if (CauseOf(error.m_nErrno) == ECause::Denied && IsInside(error.m_strDevice, strPortsDir)) {
        const char* pszIs = eLanguage == ELanguage::Japanese ? " は " : " is ";
        const char* pszEnd = eLanguage == ELanguage::Japanese ? " です。\n" : ".\n";
        return strPort + pszIs + error.m_strDevice + pszEnd +
               FillPlaceholders(LoadString(kIdsPortsFolderUnreadable, eLanguage),
                                {strPortsDir, OsText(error.m_nErrno)});
    }
    return eLanguage == ELanguage::Japanese ? Japanese(strPort, error) : English(strPort, error);
}
