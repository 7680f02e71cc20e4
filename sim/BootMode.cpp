#include "sim/BootMode.h"

#include <termios.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "sim/PtyLink.h"

namespace {

constexpr uint8_t kSyncByte = 0x00;
constexpr uint8_t kBitRateByte = 0x55;

// The settings the processor's boot mode and the started loader expect: 8N1 at 9600 with no
// handshake while the loader goes, 8N1 at 38400 with RTS/CTS for the package. XON/XOFF must be
// off in both, or binary bytes 0x11 and 0x13 would be taken by the line.
std::string DescribeFault(const struct termios& tio, bool bPackage) {
    const speed_t nWantSpeed = bPackage ? B38400 : B9600;
    std::string strFault;
    auto add = [&](const char* pszWhat) {
        strFault += strFault.empty() ? "" : ", ";
        strFault += pszWhat;
    };
    if (cfgetospeed(&tio) != nWantSpeed || cfgetispeed(&tio) != nWantSpeed)
        add(bPackage ? "baud is not 38400" : "baud is not 9600");
    if ((tio.c_cflag & CSIZE) != CS8)
        add("not 8 data bits");
    if (tio.c_cflag & PARENB)
        add("parity on");
    if (tio.c_cflag & CSTOPB)
        add("2 stop bits");
    if (bPackage && !(tio.c_cflag & CRTSCTS))
        add("no RTS/CTS handshake");
    if (!bPackage && (tio.c_cflag & CRTSCTS))
        add("RTS/CTS handshake on");
    if (tio.c_iflag & (IXON | IXOFF))
        add("XON/XOFF on");
    if (strFault.empty())
        return strFault;
    return std::string(bPackage ? "package: " : "loader: ") + strFault;
}

} // namespace

void CBootMode::TakeAfterPackage(CPtyLink& link, std::vector<uint8_t>::const_iterator first,
                                 std::vector<uint8_t>::const_iterator last) {
    if (first == last)
        return;
    if (m_eStage == EStage::Off) {
        m_nBytesWhileOff += static_cast<int>(last - first);
        return;
    }
    if (!m_pRestarted)
        m_pRestarted = std::make_unique<CNormalMode>(m_behaviour.m_afterRestart);
    m_pRestarted->OnReceive(link, std::vector<uint8_t>(first, last));
}

CBootMode::EStage CBootMode::StageNow() const {
    if (!m_behaviour.m_bRestarts || (m_eStage != EStage::Package && m_eStage != EStage::Off))
        return m_eStage;
    if (m_package.size() < m_behaviour.m_nPackageSize)
        return EStage::Package;
    const auto since = std::chrono::steady_clock::now() - m_lastPackageByte;
    if (since < std::chrono::milliseconds(m_behaviour.m_nFlashMs))
        return EStage::Package;
    if (since < std::chrono::milliseconds(m_behaviour.m_nFlashMs + m_behaviour.m_nOffMs) ||
        !m_behaviour.m_bComesBack)
        return EStage::Off;
    return EStage::Restarted;
}

void CBootMode::OnReceive(CPtyLink& link, const std::vector<uint8_t>& bytes) {
    std::unique_lock lock(m_mutex);
    if (bytes.empty() || m_eStage == EStage::HungUp)
        return;
    m_eStage = StageNow();
    if (m_eStage == EStage::Off || m_eStage == EStage::Restarted) {
        TakeAfterPackage(link, bytes.begin(), bytes.end());
        return;
    }
    CheckSettings(link, m_eStage == EStage::Package);
    if (m_behaviour.m_bPaced) {
        m_arrival = std::chrono::steady_clock::now();
        m_byteTime = link.GetByteTime();
    }

    bool bStop = false;
    for (auto it = bytes.begin(); it != bytes.end(); ++it) {
        TakeByte(link, *it, bStop);
        if (bStop)
            break;
        // What follows the package's last byte in the same read is no longer the package's.
        if (m_eStage == EStage::Package && StageNow() != EStage::Package) {
            m_eStage = StageNow();
            TakeAfterPackage(link, it + 1, bytes.end());
            break;
        }
    }
    // The program's bytes that wait in the pseudo-terminal count as written: on a busy computer
    // the machine may read late, and a hold that only began once it had read up to the byte
    // would find the program finished long before.
    if (m_eStage == EStage::Package && m_behaviour.m_nStallAtPackageByte >= 0 &&
        static_cast<int>(m_package.size()) + link.CountUnread() >=
            m_behaviour.m_nStallAtPackageByte) {
        m_behaviour.m_nStallAtPackageByte = -1;
        const int nMs = m_behaviour.m_nStallMs;
        lock.unlock();
        HoldLine(link, nMs);
    }
}

// The simulator's thread pauses meanwhile, so nothing is read either.
void CBootMode::HoldLine(CPtyLink& link, int nMilliseconds) {
    if (link.HoldOutput(true))
        m_bHeldLine = true;
    link.Pause(nMilliseconds);
    link.HoldOutput(false);
}

bool CBootMode::IsSilent() const {
    return m_behaviour.m_bSilent && m_eStage >= m_behaviour.m_eSilentFrom;
}

void CBootMode::Answer(CPtyLink& link, int nByte) {
    if (nByte >= 0 && !IsSilent()) {
        const uint8_t nAnswer = static_cast<uint8_t>(nByte);
        Send(link, &nAnswer, 1);
    }
}

void CBootMode::Send(CPtyLink& link, const uint8_t* pBytes, size_t nCount) {
    if (!m_behaviour.m_bPaced) {
        link.Send(pBytes, nCount);
        return;
    }
    // A byte the program wrote is the machine's one byte time after it reached the pty, and the
    // answer is the program's one byte time later. The link's paced send takes that second byte
    // time itself: the answer starts out at its due time less one byte.
    for (size_t i = 0; i < nCount; ++i) {
        const auto due = std::max(m_arrival + 2 * m_byteTime, m_lastDue + m_byteTime);
        std::this_thread::sleep_until(due - m_byteTime);
        m_lastDue = due;
        link.Send(pBytes[i]);
    }
}

void CBootMode::TakeByte(CPtyLink& link, uint8_t nByte, bool& bStop) {
    switch (m_eStage) {
    case EStage::Sync:
        if (nByte != kSyncByte)
            return;
        if (++m_nSyncZeros == m_behaviour.m_nHangUpAtSyncZero) {
            HangUp(link, bStop);
            return;
        }
        if (m_nSyncZeros < m_behaviour.m_nSyncZeros)
            return;
        if (!IsSilent()) {
            const std::vector<uint8_t> answers(std::max(1, m_behaviour.m_nSyncAnswers),
                                               static_cast<uint8_t>(m_behaviour.m_nSyncAnswer));
            Send(link, answers.data(), answers.size());
        }
        m_eStage = EStage::BitRate;
        return;
    case EStage::BitRate:
        // 0x00 bytes the program sent before it saw the answer are still coming in.
        if (nByte == kSyncByte)
            ++m_nSyncZeros;
        if (nByte != kBitRateByte)
            return;
        Answer(link, m_behaviour.m_nBitRateAnswer);
        m_eStage = EStage::LengthHigh;
        return;
    case EStage::LengthHigh:
        m_nLengthHigh = nByte;
        Answer(link, m_behaviour.m_nWrongLengthEcho == 0 ? nByte ^ 0xFF : nByte);
        m_eStage = EStage::LengthLow;
        return;
    case EStage::LengthLow:
        Answer(link, m_behaviour.m_nWrongLengthEcho == 1 ? nByte ^ 0xFF : nByte);
        m_nLoaderLength = (m_nLengthHigh << 8) | nByte;
        if (!m_behaviour.m_noiseAfterLength.empty() && !IsSilent())
            Send(link, m_behaviour.m_noiseAfterLength.data(),
                 m_behaviour.m_noiseAfterLength.size());
        m_eStage = EStage::Loader;
        return;
    case EStage::Loader: {
        const int nIndex = static_cast<int>(m_loader.size());
        if (nIndex == m_behaviour.m_nHangUpAtLoaderByte) {
            HangUp(link, bStop);
            return;
        }
        m_loader.push_back(nByte);
        Answer(link, nIndex == m_behaviour.m_nWrongEchoAt ? nByte ^ 0xFF : nByte);
        if (static_cast<int>(m_loader.size()) == m_nLoaderLength) {
            Answer(link, m_behaviour.m_nFinalAnswer);
            m_eStage = EStage::Package;
            m_lastPackageByte = std::chrono::steady_clock::now();
        }
        return;
    }
    case EStage::Package:
        if (static_cast<int>(m_package.size()) == m_behaviour.m_nHangUpAtPackageByte) {
            HangUp(link, bStop);
            return;
        }
        m_package.push_back(nByte);
        m_lastPackageByte = std::chrono::steady_clock::now();
        return;
    case EStage::HungUp:
    case EStage::Off:
    case EStage::Restarted:
        bStop = true;
        return;
    }
}

// The time is taken first: a program that ends once it sees the hang-up ends after it.
void CBootMode::HangUp(CPtyLink& link, bool& bStop) {
    m_hangUp = std::chrono::steady_clock::now();
    link.Close();
    m_eStage = EStage::HungUp;
    bStop = true;
}

void CBootMode::CheckSettings(CPtyLink& link, bool bPackage) {
    // Nothing answers the package, so the program may close the port, and put back the
    // settings it found there, before the machine has read the package's end: the line then no
    // longer shows the settings those bytes went out with and says nothing about them.
    if (bPackage && link.IsAtRest())
        return;
    (bPackage ? m_nPackageChecks : m_nLoaderChecks)++;
    std::string strFault = DescribeFault(link.GetSettings(), bPackage);
    if (!strFault.empty())
        m_settingsFaults.push_back(std::move(strFault));
}

CBootMode::EStage CBootMode::GetStage() const {
    std::lock_guard lock(m_mutex);
    return StageNow();
}

int CBootMode::GetBytesWhileOff() const {
    std::lock_guard lock(m_mutex);
    return m_nBytesWhileOff;
}

int CBootMode::GetQueriesAfterRestart() const {
    std::lock_guard lock(m_mutex);
    return m_pRestarted ? m_pRestarted->GetQueryCount() : 0;
}

std::vector<uint8_t> CBootMode::GetLoader() const {
    std::lock_guard lock(m_mutex);
    return m_loader;
}

std::vector<uint8_t> CBootMode::GetPackage() const {
    std::lock_guard lock(m_mutex);
    return m_package;
}

int CBootMode::GetSyncZeros() const {
    std::lock_guard lock(m_mutex);
    return m_nSyncZeros;
}

int CBootMode::GetLoaderLength() const {
    std::lock_guard lock(m_mutex);
    return m_nLoaderLength;
}

std::vector<std::string> CBootMode::GetSettingsFaults() const {
    std::lock_guard lock(m_mutex);
    return m_settingsFaults;
}

int CBootMode::GetLoaderChecks() const {
    std::lock_guard lock(m_mutex);
    return m_nLoaderChecks;
}

int CBootMode::GetPackageChecks() const {
    std::lock_guard lock(m_mutex);
    return m_nPackageChecks;
}

std::chrono::steady_clock::time_point CBootMode::GetHangUpTime() const {
    std::lock_guard lock(m_mutex);
    return m_hangUp;
}
