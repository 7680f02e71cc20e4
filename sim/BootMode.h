#pragma once
// The machine with its processor held in boot mode by the jumpers: it answers the
// synchronisation, the 0x55/0xAA exchange, echoes the loader's length and every loader byte,
// answers 0xAA when the loader is complete, and then takes the package the started loader
// receives at 38400 baud. It checks the line settings of each phase and keeps what it received,
// and plays the faults a test asks for.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/MachineMode.h"
#include "sim/NormalMode.h"

class CBootMode : public IMachineMode {
public:
    // Where the exchange stands: what the machine waits for next.
    enum class EStage {
        Sync,       // 0x00 bytes of the synchronisation
        BitRate,    // 0x55
        LengthHigh, // high byte of the loader length
        LengthLow,  // low byte
        Loader,     // loader bytes
        Package,    // the package, after the final 0xAA
        HungUp,     // the machine hung up on request
        Off,        // restarting: switched off while the jumpers are set back
        Restarted,  // on again in normal mode, answering "F;"
    };

    // What the machine does; the defaults are a sound machine.
    struct CBehaviour {
        int m_nSyncZeros = 1;     // 0x00 bytes taken before the answer
        int m_nSyncAnswer = 0x00; // the answer to the synchronisation
        int m_nSyncAnswers = 1;   // how many copies of it go out (2: the machine answers twice)
        int m_nBitRateAnswer = 0xAA;
        int m_nFinalAnswer = 0xAA;   // after the last loader byte; -1: none
        int m_nWrongLengthEcho = -1; // 0 the high byte, 1 the low byte is echoed wrong
        int m_nWrongEchoAt = -1;     // the loader byte echoed wrong
        // Bytes sent right after the low length echo; they arrive during the program's pause.
        std::vector<uint8_t> m_noiseAfterLength;
        // From this stage on the machine answers nothing (Sync: silent from the start).
        bool m_bSilent = false;
        EStage m_eSilentFrom = EStage::Sync;
        // The machine hangs up when this loader or package byte arrives (it is not taken), or
        // when the synchronisation's 0x00 with this number (from 1) arrives.
        int m_nHangUpAtSyncZero = -1;
        int m_nHangUpAtLoaderByte = -1;
        int m_nHangUpAtPackageByte = -1;
        // Once the program has written this many package bytes (taken, or waiting to be read)
        // the machine holds the line for m_nStallMs: it stops reading and holds the program's
        // output off, as a low CTS would. 0: from the end of the loader, before the package.
        int m_nStallAtPackageByte = -1;
        int m_nStallMs = 0;
        // Answers take as long as on a cable at the line's baud: each reaches the program no
        // sooner than two byte times after the byte it answers was written (that byte's wire
        // time, then its own), one byte time apart. A pseudo-terminal alone delivers at once.
        // This is the whole of the line's time for the answers: leave the link's own pacing off.
        bool m_bPaced = false;
        // The restart after the package, as the operator makes it. For m_nFlashMs after the last
        // package byte the loader is still writing its flash and takes whatever arrives into the
        // package (so a question sent then spoils it); then the machine is off for m_nOffMs and
        // what arrives is lost; then it answers "F;" as m_afterRestart says, unless it never comes
        // back. Without m_bRestarts it stays in its loader, as a machine nobody restarts.
        bool m_bRestarts = false;
        // The package's size, when the machine is to know it: the restart's times then count
        // from its last byte, however soon the next bytes follow. 0: from the last byte that came.
        size_t m_nPackageSize = 0;
        int m_nFlashMs = 0;
        int m_nOffMs = 0;
        bool m_bComesBack = true;
        CNormalModeConfig m_afterRestart;
    };

    CBootMode() = default;
    explicit CBootMode(CBehaviour behaviour) : m_behaviour(std::move(behaviour)) {}

    void OnReceive(CPtyLink& link, const std::vector<uint8_t>& bytes) override;

    // Read from any thread while the simulator runs.
    EStage GetStage() const;
    std::vector<uint8_t> GetLoader() const;  // the loader bytes received
    std::vector<uint8_t> GetPackage() const; // everything received after the final 0xAA
    int GetSyncZeros() const;                // 0x00 bytes of the synchronisation received
    int GetLoaderLength() const;             // the length the program announced
    // Line settings that were wrong for the phase they were seen in; empty when all were right.
    std::vector<std::string> GetSettingsFaults() const;
    // How many times the settings were checked in the loader phase and in the package phase.
    // Package bytes read only after the program closed the port are not judged: the line shows
    // the settings its close put back.
    int GetLoaderChecks() const;
    int GetPackageChecks() const;
    // When the machine began to hang up; the clock's epoch while it has not.
    std::chrono::steady_clock::time_point GetHangUpTime() const;
    // True once a stall held the program's output off, so a test knows its hold was real.
    bool HasHeldLine() const { return m_bHeldLine; }
    // The restart: bytes that arrived while the machine was off, and the questions it answered
    // once it was on again.
    int GetBytesWhileOff() const;
    int GetQueriesAfterRestart() const;

private:
    void CheckSettings(CPtyLink& link, bool bPackage);
    void Answer(CPtyLink& link, int nByte);
    void Send(CPtyLink& link, const uint8_t* pBytes, size_t nCount);
    bool IsSilent() const;
    void TakeByte(CPtyLink& link, uint8_t nByte, bool& bStop);
    void HoldLine(CPtyLink& link, int nMilliseconds);
    void HangUp(CPtyLink& link, bool& bStop);
    // Package, Off or Restarted as the restart's times say now (under m_mutex).
    EStage StageNow() const;
    // Bytes that came once the package was over: lost while off, answered once on again.
    void TakeAfterPackage(CPtyLink& link, std::vector<uint8_t>::const_iterator first,
                          std::vector<uint8_t>::const_iterator last);

    CBehaviour m_behaviour;

    mutable std::mutex m_mutex;
    EStage m_eStage = EStage::Sync;
    int m_nSyncZeros = 0;
    int m_nLengthHigh = 0;
    int m_nLoaderLength = -1;
    std::vector<uint8_t> m_loader;
    std::vector<uint8_t> m_package;
    std::vector<std::string> m_settingsFaults;
    int m_nLoaderChecks = 0;
    int m_nPackageChecks = 0;
    std::chrono::steady_clock::time_point m_arrival; // when the bytes in hand arrived
    std::chrono::steady_clock::time_point m_lastDue; // when the last answer reached the program
    std::chrono::nanoseconds m_byteTime{0};
    std::chrono::steady_clock::time_point m_hangUp{};
    std::atomic<bool> m_bHeldLine{false};
    std::chrono::steady_clock::time_point m_lastPackageByte; // or the final 0xAA
    int m_nBytesWhileOff = 0;
    std::unique_ptr<CNormalMode> m_pRestarted;
};
