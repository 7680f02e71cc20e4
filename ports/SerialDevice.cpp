#include "ports/SerialDevice.h"

#include "ports/NetSerialDevice.h"

bool CLineSettings::IsSameLine(const CLineSettings& other) const {
    if (m_nBaud != other.m_nBaud || m_nDataBits != other.m_nDataBits ||
        m_nParity != other.m_nParity || m_nStopBits != other.m_nStopBits ||
        m_bCtsFlow != other.m_bCtsFlow || m_bXonXoff != other.m_bXonXoff)
        return false;
    return !m_bXonXoff || (m_cXon == other.m_cXon && m_cXoff == other.m_cXoff);
}

ISerialDevice::ELowLatency ISerialDevice::AskLowLatency(int& nOld) {
    int nFlags = 0;
    if (GetSerialFlags(nFlags) != 0)
        return ELowLatency::Refused;
    if (nFlags & kLowLatencyFlag)
        return ELowLatency::AlreadyOn;
    if (SetSerialFlags(nFlags | kLowLatencyFlag) != 0)
        return ELowLatency::Refused;
    nOld = nFlags;
    return ELowLatency::Granted;
}

namespace {

SerialDeviceFactory g_fnDeviceFactory;

} // namespace

std::unique_ptr<ISerialDevice> MakeSerialDevice() {
    if (g_fnDeviceFactory)
        return g_fnDeviceFactory();
    return MakeSystemSerialDevice();
}

void SetSerialDeviceFactory(SerialDeviceFactory fnFactory) {
    g_fnDeviceFactory = std::move(fnFactory);
}

std::unique_ptr<ISerialDevice> MakeSerialDeviceFor(const std::string& strDevice,
                                                   int nNetworkOpenLimitMs) {
    if (IsNetworkPortName(strDevice) && nNetworkOpenLimitMs > 0) {
        CNetSerialDevice::CLimits limits;
        limits.m_nConnectMs = nNetworkOpenLimitMs;
        limits.m_nNegotiationMs = nNetworkOpenLimitMs;
        limits.m_nAnswerMs = nNetworkOpenLimitMs;
        return std::make_unique<CNetSerialDevice>(limits);
    }
    if (IsNetworkPortName(strDevice))
        return std::make_unique<CNetSerialDevice>();
    return MakeSerialDevice();
}

bool IsNetworkDevice(const ISerialDevice& device) {
    return dynamic_cast<const CNetSerialDevice*>(&device) != nullptr;
}
