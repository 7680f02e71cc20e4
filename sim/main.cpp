// machine-sim: plays the machine on a pseudo-terminal linked into a ports folder as COMn, until
// SIGINT or SIGTERM; then tells how many bytes the program sent it and whether the boot loader and
// the package it received are the program's built-in ones, byte for byte.
#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "resources/Resources.h"
#include "resources/StringIds.h"
#include "resources/Strings.h"
#include "sim/BootMode.h"
#include "sim/MachineSim.h"
#include "sim/NormalMode.h"

namespace {

void Usage() {
    std::fprintf(
        stderr,
        "usage: machine-sim --ports DIR --com N [--paced] [--reply TEXT] [--fault NAME]\n"
        "                   [--port N=SPEC]...\n"
        "  --reply TEXT   the machine's answer to F; (default \"V250 TVK-50;\")\n"
        "  --fault NAME   silent, split, noterm, long, garbage or trickle\n"
        "  --port N=SPEC  another port: machine, silent, absent, split, noterm, long,\n"
        "                 garbage, trickle or reply:TEXT\n"
        "  --boot-fault F the machine in boot mode: sync-twice, wrong-echo:K, no-final,\n"
        "                 silent, hangup-loader:K, hangup-package:K or\n"
        "                 stall-package:K:MS (stops reading for MS ms once K package\n"
        "                 bytes were written)\n"
        "  --restart S    after the package the machine restarts: silent for S seconds\n"
        "                 (for the first 8 of them, or all if fewer, its loader still\n"
        "                 writes the flash and takes what arrives into the package; then\n"
        "                 it is off and what arrives is lost), then it answers F; again\n"
        "  --restart-reply TEXT  its answer after the restart (default: the package's\n"
        "                 version with the model of --reply, \"V260 TVK-50;\"), or never\n");
}

bool ParseBootFault(const std::string& strFault, CBootMode::CBehaviour& behaviour) {
    const size_t nColon = strFault.find(':');
    const std::string strName = strFault.substr(0, nColon);
    const int nAt = nColon == std::string::npos ? -1 : std::atoi(strFault.c_str() + nColon + 1);
    if (strName == "sync-twice")
        behaviour.m_nSyncAnswers = 2;
    else if (strName == "no-final")
        behaviour.m_nFinalAnswer = -1;
    else if (strName == "silent")
        behaviour.m_bSilent = true;
    else if (strName == "wrong-echo" && nAt >= 0)
        behaviour.m_nWrongEchoAt = nAt;
    else if (strName == "hangup-loader" && nAt >= 0)
        behaviour.m_nHangUpAtLoaderByte = nAt;
    else if (strName == "hangup-package" && nAt >= 0)
        behaviour.m_nHangUpAtPackageByte = nAt;
    else if (strName == "stall-package" && nAt >= 0 &&
             strFault.find(':', nColon + 1) != std::string::npos) {
        behaviour.m_nStallAtPackageByte = nAt;
        behaviour.m_nStallMs = std::atoi(strFault.c_str() + strFault.find(':', nColon + 1) + 1);
    } else
        return false;
    return true;
}

// "loader: 3064 bytes, the built-in loader exactly", or where it first differs.
void Compare(const char* pszWhat, const std::vector<uint8_t>& received, int nId) {
    const CResource builtin = FindResource("BIN", nId);
    const size_t nBuiltin = builtin ? builtin.m_nSize : 0;
    size_t nSame = 0;
    while (nSame < received.size() && nSame < nBuiltin && received[nSame] == builtin.m_pData[nSame])
        ++nSame;
    if (nSame == received.size() && nSame == nBuiltin)
        std::printf("%s: %zu bytes, the built-in %s exactly\n", pszWhat, received.size(), pszWhat);
    else
        std::printf(
            "%s: %zu bytes, not the built-in %s (%zu bytes): they differ from byte %zu on\n",
            pszWhat, received.size(), pszWhat, nBuiltin, nSame);
}

// What a machine that runs the package answers: its version with the model of strReply.
std::string ReplyWithPackageVersion(const std::string& strReply) {
    const size_t nStart = strReply.find_first_not_of(' ');
    const size_t nSpace = nStart == std::string::npos ? nStart : strReply.find(' ', nStart);
    std::string strModel =
        nSpace == std::string::npos ? std::string() : strReply.substr(nSpace + 1);
    strModel = strModel.substr(0, strModel.find(';'));
    return "V" + LoadString(kIdsPackageVersion) + " " + strModel + ";";
}

// Long enough for any loader to have written its flash: a question before it ends lands in the
// package.
constexpr int kFlashMs = 8000;

} // namespace

int main(int argc, char** argv) {
    std::string strPortsDir;
    int nCom = 0;
    bool bPaced = false;
    CNormalModeConfig normal;
    std::vector<std::pair<int, CPortSpec>> others;
    CBootMode::CBehaviour boot;
    std::optional<std::string> restartReply;
    for (int i = 1; i < argc; ++i) {
        const std::string strArg = argv[i];
        if (strArg == "--ports" && i + 1 < argc) {
            strPortsDir = argv[++i];
        } else if (strArg == "--com" && i + 1 < argc) {
            nCom = std::atoi(argv[++i]);
        } else if (strArg == "--paced") {
            bPaced = true;
        } else if (strArg == "--reply" && i + 1 < argc) {
            normal.m_strReply = argv[++i];
        } else if (strArg == "--fault" && i + 1 < argc) {
            CPortSpec spec;
            if (!ParsePortSpec(argv[++i], spec) || spec.m_bAbsent) {
                Usage();
                return 2;
            }
            normal.m_eFault = spec.m_config.m_eFault;
        } else if (strArg == "--boot-fault" && i + 1 < argc) {
            if (!ParseBootFault(argv[++i], boot)) {
                Usage();
                return 2;
            }
        } else if (strArg == "--restart" && i + 1 < argc) {
            char* pEnd = nullptr;
            const double fSeconds = std::strtod(argv[++i], &pEnd);
            if (*pEnd != '\0' || !(fSeconds >= 0 && fSeconds <= 86400)) {
                Usage();
                return 2;
            }
            const int nMs = static_cast<int>(fSeconds * 1000);
            boot.m_bRestarts = true;
            boot.m_nFlashMs = std::min(nMs, kFlashMs);
            boot.m_nOffMs = nMs - boot.m_nFlashMs;
        } else if (strArg == "--restart-reply" && i + 1 < argc) {
            restartReply = argv[++i];
        } else if (strArg == "--port" && i + 1 < argc) {
            const std::string strPort = argv[++i];
            const size_t nEquals = strPort.find('=');
            CPortSpec spec;
            if (nEquals == std::string::npos || std::atoi(strPort.c_str()) < 1 ||
                !ParsePortSpec(strPort.substr(nEquals + 1), spec)) {
                Usage();
                return 2;
            }
            others.emplace_back(std::atoi(strPort.c_str()), spec);
        } else {
            Usage();
            return 2;
        }
    }
    if (strPortsDir.empty() || nCom < 1 || (restartReply && !boot.m_bRestarts)) {
        Usage();
        return 2;
    }
    boot.m_afterRestart.m_strReply =
        restartReply.value_or(ReplyWithPackageVersion(normal.m_strReply));
    boot.m_bComesBack = boot.m_afterRestart.m_strReply != "never";

    // Blocked before any thread starts, so every thread inherits the mask and sigwait gets them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    CMachineSim sim;
    sim.GetLink().SetPaced(bPaced);
    auto pNormal = std::make_unique<CNormalMode>(normal);
    const CNormalMode& normalMode = *pNormal;
    sim.SetNormalMode(std::move(pNormal));
    boot.m_bPaced = bPaced;
    auto pBoot = std::make_unique<CBootMode>(boot);
    const CBootMode& bootMode = *pBoot;
    sim.SetBootMode(std::move(pBoot));
    if (!sim.Start(strPortsDir, nCom)) {
        std::fprintf(stderr, "machine-sim: cannot link COM%d in %s: %s\n", nCom,
                     strPortsDir.c_str(), std::strerror(errno));
        return 1;
    }
    std::printf("machine-sim: COM%d: is %s (linked as %s/com%d)\n", nCom,
                sim.GetLink().GetDevicePath().c_str(), strPortsDir.c_str(), nCom);
    std::vector<std::unique_ptr<CMachineSim>> otherSims;
    for (const auto& [nOther, spec] : others) {
        std::unique_ptr<CMachineSim> pOther;
        if (!StartPort(strPortsDir, nOther, spec, pOther)) {
            std::fprintf(stderr, "machine-sim: cannot link COM%d in %s\n", nOther,
                         strPortsDir.c_str());
            return 1;
        }
        if (pOther) {
            std::printf("machine-sim: COM%d: is %s\n", nOther,
                        pOther->GetLink().GetDevicePath().c_str());
            otherSims.push_back(std::move(pOther));
        } else {
            std::printf("machine-sim: COM%d: is absent\n", nOther);
        }
    }
    std::fflush(stdout);

    int nSignal = 0;
    sigwait(&signals, &nSignal);
    const size_t nReceived = sim.GetLink().GetRecord().size();
    sim.Stop();
    std::printf("machine-sim: received %zu bytes\n", nReceived);
    for (const std::string& strFault : normalMode.GetSettingsFaults())
        std::printf("line settings: %s\n", strFault.c_str());
    if (!sim.IsInBootMode()) {
        std::printf("boot mode: never entered, nothing was sent to the machine\n");
        return 0;
    }
    Compare("loader", bootMode.GetLoader(), kIdLoader);
    Compare("package", bootMode.GetPackage(), kIdPackage);
    if (boot.m_bRestarts)
        std::printf("restart: %d bytes arrived while it was off; it answered F; %d times after\n",
                    bootMode.GetBytesWhileOff(), bootMode.GetQueriesAfterRestart());
    for (const std::string& strFault : bootMode.GetSettingsFaults())
        std::printf("line settings: %s\n", strFault.c_str());
    return 0;
}
