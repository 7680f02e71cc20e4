#pragma once
// The machine in normal mode: it answers every "F;" with its version and model, or misbehaves in
// one of the ways a real line does (silence, a reply in two pieces, no ';', a reply that never
// ends, noise).
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ports/SerialDevice.h"
#include "sim/MachineMode.h"

enum class ENormalFault {
    None,         // the configured reply as it is
    Silent,       // no answer at all
    Split,        // the first byte, a pause, then the rest
    NoTerminator, // the reply without its ';'
    Long,         // 300 bytes without a ';', starting with the reply
    Garbage,      // noise: bytes without space, ';' or zero
    Trickle,      // the reply one byte at a time, a pause after each
};

struct CNormalModeConfig {
    std::string m_strReply = "V250 TVK-50;";
    ENormalFault m_eFault = ENormalFault::None;
    int m_nSplitPauseMs = 200; // the pause of Split and Trickle
};

class CNormalMode : public IMachineMode {
public:
    CNormalMode() = default;
    explicit CNormalMode(CNormalModeConfig config) : m_config(std::move(config)) {}
    explicit CNormalMode(std::string strReply, ENormalFault eFault = ENormalFault::None);

    void SetConfig(const CNormalModeConfig& config);
    CNormalModeConfig GetConfig() const;

    // The bytes one answer consists of (both pieces of a split answer together).
    static std::vector<uint8_t> AnswerBytes(const CNormalModeConfig& config);

    // Queries ("F;") seen since construction, and when the last one arrived.
    int GetQueryCount() const { return m_nQueries.load(); }
    std::chrono::steady_clock::time_point GetLastQueryTime() const;
    // The line as the program had set it when each query was answered, in order.
    std::vector<CLineSettings> GetQuerySettings() const;
    // Queries whose line was not the query's (9600 baud, 8N1, RTS/CTS on, XON/XOFF off), each
    // with what was wrong; empty when all were right.
    std::vector<std::string> GetSettingsFaults() const;

    void OnReceive(CPtyLink& link, const std::vector<uint8_t>& bytes) override;

private:
    void Answer(CPtyLink& link);

    mutable std::mutex m_mutex;
    CNormalModeConfig m_config;
    std::chrono::steady_clock::time_point m_lastQuery;
    std::vector<CLineSettings> m_querySettings;
    bool m_bSawF =
        false; // an 'F' ended the last chunk: a ';' at the start of the next completes it
    std::atomic<int> m_nQueries{0};
};

// What machine-sim puts on one port: "machine" (the default reply), "silent", "absent", "split",
// "noterm", "long", "garbage", "trickle", or "reply:TEXT" (TEXT sent as it is, e.g. "reply:V250
// XYZ-1;").
struct CPortSpec {
    bool m_bAbsent = false;
    CNormalModeConfig m_config;
};
bool ParsePortSpec(const std::string& strSpec, CPortSpec& spec);

class CMachineSim;
// Puts spec on COMn of the ports folder: a machine in normal mode (returned in pSim), or for an
// absent port a link to a device that does not exist. False when the port cannot be linked.
bool StartPort(const std::string& strPortsDir, int nCom, const CPortSpec& spec,
               std::unique_ptr<CMachineSim>& pSim);
