#include "sim/NormalMode.h"

#include <filesystem>
#include <thread>

#include "sim/MachineSim.h"
#include "sim/PtyLink.h"

namespace {

constexpr size_t kLongReply = 300;
constexpr size_t kGarbageLength = 24;

} // namespace

CNormalMode::CNormalMode(std::string strReply, ENormalFault eFault) {
    m_config.m_strReply = std::move(strReply);
    m_config.m_eFault = eFault;
}

void CNormalMode::SetConfig(const CNormalModeConfig& config) {
    std::lock_guard lock(m_mutex);
    m_config = config;
}

CNormalModeConfig CNormalMode::GetConfig() const {
    std::lock_guard lock(m_mutex);
    return m_config;
}

std::chrono::steady_clock::time_point CNormalMode::GetLastQueryTime() const {
    std::lock_guard lock(m_mutex);
    return m_lastQuery;
}

std::vector<uint8_t> CNormalMode::AnswerBytes(const CNormalModeConfig& config) {
    std::vector<uint8_t> bytes(config.m_strReply.begin(), config.m_strReply.end());
    auto dropTerminators = [&bytes] { std::erase(bytes, static_cast<uint8_t>(';')); };
    switch (config.m_eFault) {
    case ENormalFault::None:
    case ENormalFault::Split:
    case ENormalFault::Trickle:
        break;
    case ENormalFault::Silent:
        bytes.clear();
        break;
    case ENormalFault::NoTerminator:
        dropTerminators();
        break;
    case ENormalFault::Long:
        dropTerminators();
        for (size_t i = 0; bytes.size() < kLongReply; ++i)
            bytes.push_back(static_cast<uint8_t>('a' + i % 26));
        bytes.resize(kLongReply);
        break;
    case ENormalFault::Garbage: {
        bytes.clear();
        uint32_t nState = 0x2545F491;
        while (bytes.size() < kGarbageLength) {
            nState = nState * 1664525u + 1013904223u;
            auto nByte = static_cast<uint8_t>(nState >> 24);
            if (nByte != 0 && nByte != ' ' && nByte != ';')
                bytes.push_back(nByte);
        }
        break;
    }
    }
    return bytes;
}

void CNormalMode::OnReceive(CPtyLink& link, const std::vector<uint8_t>& bytes) {
    for (uint8_t nByte : bytes) {
        bool bQuery = m_bSawF && nByte == ';';
        m_bSawF = nByte == 'F';
        if (bQuery)
            Answer(link);
    }
}

std::vector<CLineSettings> CNormalMode::GetQuerySettings() const {
    std::lock_guard lock(m_mutex);
    return m_querySettings;
}

// The query goes at 9600 "N81H": a machine that answers on any other line would hide a port
// opened wrongly until the transfer.
std::vector<std::string> CNormalMode::GetSettingsFaults() const {
    std::vector<std::string> faults;
    int nQuery = 0;
    for (const CLineSettings& line : GetQuerySettings()) {
        ++nQuery;
        std::string strFault;
        auto add = [&](const char* pszWhat) {
            strFault += strFault.empty() ? "" : ", ";
            strFault += pszWhat;
        };
        if (line.m_nBaud != 9600)
            add("baud is not 9600");
        if (line.m_nDataBits != 8)
            add("not 8 data bits");
        if (line.m_nParity != 0)
            add("parity on");
        if (line.m_nStopBits != 1)
            add("2 stop bits");
        if (!line.m_bCtsFlow)
            add("no RTS/CTS handshake");
        if (line.m_bXonXoff)
            add("XON/XOFF on");
        if (!strFault.empty())
            faults.push_back("query " + std::to_string(nQuery) + ": " + strFault);
    }
    return faults;
}

void CNormalMode::Answer(CPtyLink& link) {
    CNormalModeConfig config;
    const CLineSettings line = LineSettingsOf(link.GetSettings());
    {
        std::lock_guard lock(m_mutex);
        m_lastQuery = std::chrono::steady_clock::now();
        m_querySettings.push_back(line);
        config = m_config;
    }
    ++m_nQueries;
    std::vector<uint8_t> bytes = AnswerBytes(config);
    if (bytes.empty())
        return;
    if (config.m_eFault == ENormalFault::Split && bytes.size() > 1) {
        link.Send(bytes.data(), 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(config.m_nSplitPauseMs));
        link.Send(bytes.data() + 1, bytes.size() - 1);
        return;
    }
    if (config.m_eFault == ENormalFault::Trickle) {
        for (uint8_t nByte : bytes) {
            link.Send(nByte);
            std::this_thread::sleep_for(std::chrono::milliseconds(config.m_nSplitPauseMs));
        }
        return;
    }
    link.Send(bytes.data(), bytes.size());
}

bool ParsePortSpec(const std::string& strSpec, CPortSpec& spec) {
    spec = CPortSpec{};
    static const struct {
        const char* m_pszName;
        ENormalFault m_eFault;
    } faults[] = {
        {"machine", ENormalFault::None},    {"silent", ENormalFault::Silent},
        {"split", ENormalFault::Split},     {"noterm", ENormalFault::NoTerminator},
        {"long", ENormalFault::Long},       {"garbage", ENormalFault::Garbage},
        {"trickle", ENormalFault::Trickle},
    };
    if (strSpec == "absent") {
        spec.m_bAbsent = true;
        return true;
    }
    if (strSpec.starts_with("reply:")) {
        spec.m_config.m_strReply = strSpec.substr(6);
        return true;
    }
    for (const auto& fault : faults) {
        if (strSpec == fault.m_pszName) {
            spec.m_config.m_eFault = fault.m_eFault;
            return true;
        }
    }
    return false;
}

bool StartPort(const std::string& strPortsDir, int nCom, const CPortSpec& spec,
               std::unique_ptr<CMachineSim>& pSim) {
    pSim.reset();
    if (spec.m_bAbsent) {
        // A link to nowhere, not a missing link: without one the port would fall through to
        // whatever serial device the computer has.
        std::error_code ec;
        std::filesystem::create_directories(strPortsDir, ec);
        std::string strLink = strPortsDir + "/com" + std::to_string(nCom);
        std::filesystem::remove(strLink, ec);
        std::filesystem::create_symlink("/nonexistent/com" + std::to_string(nCom), strLink, ec);
        return !ec;
    }
    pSim = std::make_unique<CMachineSim>();
    pSim->SetNormalMode(std::make_unique<CNormalMode>(spec.m_config));
    if (!pSim->Start(strPortsDir, nCom)) {
        pSim.reset();
        return false;
    }
    return true;
}
