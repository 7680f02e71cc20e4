#include "sim/MachineSim.h"

#include <algorithm>
#include <chrono>

namespace {

int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// How long the thread sleeps in one wait, so that Stop and Stall are seen soon.
constexpr int kSliceMs = 10;

} // namespace

CMachineSim::CMachineSim() = default;

CMachineSim::~CMachineSim() {
    Stop();
}

void CMachineSim::SetNormalMode(std::unique_ptr<IMachineMode> pMode) {
    std::lock_guard lock(m_modeMutex);
    m_pNormalMode = std::move(pMode);
}

void CMachineSim::SetBootMode(std::unique_ptr<IMachineMode> pMode) {
    std::lock_guard lock(m_modeMutex);
    m_pBootMode = std::move(pMode);
}

bool CMachineSim::Start(const std::string& strPortsDir, int nCom) {
    Stop();
    if (!m_link.Open(strPortsDir, nCom))
        return false;
    m_bStop = false;
    m_bBootMode = false;
    m_nStallUntilMs = 0;
    m_thread = std::thread(&CMachineSim::Run, this);
    return true;
}

void CMachineSim::Stop() {
    m_bStop = true;
    m_link.Interrupt();
    if (m_thread.joinable())
        m_thread.join();
    m_link.Close();
}

void CMachineSim::Stall(int nMilliseconds) {
    m_nStallUntilMs = NowMs() + nMilliseconds;
    if (!m_thread.joinable() || std::this_thread::get_id() == m_thread.get_id())
        return;
    // The thread may be in the middle of a read; once it has come round, nothing more is read
    // until the stall is over.
    const uint64_t nPass = m_nPasses;
    while (m_nPasses < nPass + 2 && !m_bStop)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

bool CMachineSim::IsInBootMode() const {
    return m_bBootMode;
}

CPtyLink& CMachineSim::GetLink() {
    return m_link;
}

void CMachineSim::Run() {
    while (!m_bStop) {
        ++m_nPasses;
        const int64_t nStallLeft = m_nStallUntilMs - NowMs();
        if (nStallLeft > 0) {
            std::this_thread::sleep_for(
                std::chrono::milliseconds(std::min<int64_t>(nStallLeft, kSliceMs)));
            continue;
        }
        // After a hang-up Receive returns at once; idle instead of spinning a core.
        if (!m_link.IsOpen()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(kSliceMs));
            continue;
        }
        const std::vector<uint8_t> bytes = m_link.Receive(kSliceMs);
        if (!bytes.empty())
            Dispatch(bytes);
    }
}

void CMachineSim::Dispatch(const std::vector<uint8_t>& bytes) {
    std::lock_guard lock(m_modeMutex);
    auto bootStart = bytes.begin();
    if (!m_bBootMode) {
        bootStart = std::find(bytes.begin(), bytes.end(), uint8_t{0});
        if (bootStart != bytes.begin() && m_pNormalMode)
            m_pNormalMode->OnReceive(m_link, std::vector<uint8_t>(bytes.begin(), bootStart));
        if (bootStart == bytes.end())
            return;
        m_bBootMode = true;
    }
    if (m_pBootMode)
        m_pBootMode->OnReceive(m_link, std::vector<uint8_t>(bootStart, bytes.end()));
}
