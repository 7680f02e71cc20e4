#include "device/OpenFailure.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <vector>

#include "ports/NetSerialDevice.h"
#include "ports/PortMap.h"
#include "resources/StringIds.h"

namespace {

// Each cause with the errnos that mean it, its sentence for the wizard's detail and its short
// state for versionup-cli ports. Causes without errnos are told from the device's path.
struct COpenCauseText {
    EOpenCause m_eCause;
    std::vector<int> m_errnos;
    unsigned m_nSentence; // its OS words go in as %1 where the text has one
    unsigned m_nState;
};

const COpenCauseText kCauses[] = {
    {EOpenCause::NoDevice, {}, kIdsPortNoDevice, kIdsCliNoDevice},
    {EOpenCause::NotPresent,
     {ENOENT, ENODEV, ENXIO, ENOTDIR, ELOOP},
     kIdsPortNotPresent,
     kIdsCliAbsent},
    {EOpenCause::InUse, {EBUSY, EWOULDBLOCK}, kIdsPortInUse, kIdsCliBusy},
    {EOpenCause::Denied, {EACCES, EPERM, EROFS}, kIdsPortDenied, kIdsCliDenied},
    {EOpenCause::FolderUnreadable, {}, kIdsPortsFolderUnreadable, kIdsCliOpenError},
    {EOpenCause::NotSerial, {ENOTTY}, kIdsPortNotSerial, kIdsCliNotSerial},
    {EOpenCause::Other, {}, kIdsPortOpenFailed, kIdsCliOpenError},
};

const COpenCauseText& TextOf(EOpenCause eCause) {
    for (const COpenCauseText& row : kCauses) {
        if (row.m_eCause == eCause)
            return row;
    }
    return kCauses[std::size(kCauses) - 1];
}

std::string OsText(const CPortError& error, ELanguage eLanguage) {
    if (!error.m_strCause.empty())
        return error.m_strCause;
    if (error.m_nErrno == 0)
        return LoadString(kIdsPortSettingsRefused, eLanguage);
    return std::strerror(error.m_nErrno);
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

} // namespace

EOpenCause ClassifyOpenFailure(const CPortError& error, const std::string& strPortsDir) {
    if (error.m_strDevice.empty())
        return EOpenCause::NoDevice;
    EOpenCause eCause = EOpenCause::Other;
    for (const COpenCauseText& row : kCauses) {
        for (int nErrno : row.m_errnos) {
            if (nErrno == error.m_nErrno)
                eCause = row.m_eCause;
        }
    }
    // The map names a link inside the ports folder only when it could not look at it; joining
    // the dialout group would not help with that.
    if (eCause == EOpenCause::Denied && IsInside(error.m_strDevice, strPortsDir))
        return EOpenCause::FolderUnreadable;
    return eCause;
}

std::string DescribeOpenFailure(const std::string& strPort, const CPortError& error,
                                ELanguage eLanguage) {
    return DescribeOpenFailure(strPort, error, eLanguage, CPortMap::DefaultPortsDir());
}

std::string DescribeOpenFailure(const std::string& strPort, const CPortError& error,
                                ELanguage eLanguage, const std::string& strPortsDir) {
    // The device opened; its driver only would not hold the line as set.
    if (!error.m_strRefused.empty())
        return FillPlaceholders(LoadString(kIdsPortIsDevice, eLanguage),
                                {strPort, error.m_strDevice}) +
               "\n" +
               FillPlaceholders(LoadString(kIdsPortRefusedSettings, eLanguage),
                                {error.m_strRefused});
    const EOpenCause eCause = ClassifyOpenFailure(error, strPortsDir);
    const std::string strSentence = LoadString(TextOf(eCause).m_nSentence, eLanguage);
    if (eCause == EOpenCause::NoDevice)
        return FillPlaceholders(strSentence, {strPort});
    const std::string strOs = OsText(error, eLanguage);
    // A port on a device server named by its URL is its own device: "X is X." says nothing.
    const std::string strIs = IsNetworkPortName(strPort)
                                  ? std::string()
                                  : FillPlaceholders(LoadString(kIdsPortIsDevice, eLanguage),
                                                     {strPort, error.m_strDevice}) +
                                        "\n";
    return strIs + (eCause == EOpenCause::FolderUnreadable
                        ? FillPlaceholders(strSentence, {strPortsDir, strOs})
                        : FillPlaceholders(strSentence, {strOs}));
}

std::string DescribeOpenState(const CPortError& error, ELanguage eLanguage) {
    const EOpenCause eCause = ClassifyOpenFailure(error, CPortMap::DefaultPortsDir());
    return FillPlaceholders(LoadString(TextOf(eCause).m_nState, eLanguage),
                            {OsText(error, eLanguage)});
}

std::string DescribeUnreadableFolder(const std::string& strFolder, int nErrno,
                                     ELanguage eLanguage) {
    return FillPlaceholders(LoadString(kIdsPortsFolderUnreadable, eLanguage),
                            {strFolder, std::strerror(nErrno)});
}
