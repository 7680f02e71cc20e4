#include "tests/support/Ser2net.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "tests/support/Wait.h"

extern char** environ;

namespace {

// A port the system has just handed out and taken back: free unless another program takes it
// in between, which the start would then report.
int FreeLoopbackPort() {
    const int nFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t nLength = sizeof addr;
    int nPort = 0;
    if (bind(nFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        getsockname(nFd, reinterpret_cast<sockaddr*>(&addr), &nLength) == 0)
        nPort = ntohs(addr.sin_port);
    close(nFd);
    return nPort;
}

// Whether something listens on 127.0.0.1:nPort, read from the kernel's table rather than by
// connecting: a connection would make ser2net open the machine's port.
bool IsListening(int nPort) {
    std::ifstream table("/proc/net/tcp");
    std::string strLine;
    char szLocal[32];
    std::snprintf(szLocal, sizeof szLocal, "0100007F:%04X", nPort);
    while (std::getline(table, strLine)) {
        std::istringstream fields(strLine);
        std::string strSlot, strLocal, strRemote, strState;
        fields >> strSlot >> strLocal >> strRemote >> strState;
        if (strLocal == szLocal && strState == "0A")
            return true;
    }
    return false;
}

} // namespace

std::string FindSer2net() {
    for (const char* pszDir : {"/usr/local/sbin", "/usr/sbin", "/usr/bin", "/sbin"}) {
        const std::string strPath = std::string(pszDir) + "/ser2net";
        if (access(strPath.c_str(), X_OK) == 0)
            return strPath;
    }
    return "";
}

std::string LinkTarget(const std::string& strLink) {
    std::error_code ec;
    const std::filesystem::path target = std::filesystem::canonical(strLink, ec);
    return ec ? std::string() : target.string();
}

CSer2net::~CSer2net() {
    Stop();
}

bool CSer2net::Start(const std::string& strDevice, EAccepter eAccepter) {
    const std::string strProgram = FindSer2net();
    if (strProgram.empty()) {
        ADD_FAILURE() << "ser2net is not installed (tools/deps.sh installs it)";
        return false;
    }
    m_nPort = FreeLoopbackPort();
    const std::filesystem::path config = m_dir / "ser2net.yaml";
    // chardelay off: ser2net would otherwise hold each byte from the machine for two character
    // times, at least a millisecond, before it sends it on, and the loader's echoes with it.
    // local: a pseudo-terminal has no modem lines to wait for.
    std::ofstream(config) << "connection: &machine\n"
                          << "  accepter: "
                          << (eAccepter == EAccepter::Rfc2217 ? "telnet(rfc2217),tcp" : "tcp")
                          << ",127.0.0.1," << m_nPort << "\n"
                          << "  connector: serialdev," << strDevice << ",9600n81,local\n"
                          << "  options:\n"
                          << "    kickolduser: false\n"
                          << "    chardelay: false\n";
    const std::string strPidFile = (m_dir / "ser2net.pid").string();
    const std::string strLog = (m_dir / "ser2net.log").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, strLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    // -n foreground, -u no UUCP lock files, -c our configuration only, -P our pid file.
    const std::string strConfig = config.string();
    const char* argv[] = {strProgram.c_str(), "-n",   "-u", "-c", strConfig.c_str(), "-P",
                          strPidFile.c_str(), nullptr};
    const int nSpawn = posix_spawn(&m_pid, strProgram.c_str(), &actions, nullptr,
                                   const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (nSpawn != 0) {
        m_pid = -1;
        ADD_FAILURE() << "ser2net did not start: " << std::strerror(nSpawn);
        return false;
    }
    if (!WaitUntil([&] { return IsListening(m_nPort) || waitpid(m_pid, nullptr, WNOHANG) != 0; }) ||
        !IsListening(m_nPort)) {
        ADD_FAILURE() << "ser2net does not listen on 127.0.0.1:" << m_nPort << ": " << Output();
        return false;
    }
    return true;
}

void CSer2net::Kill(int nSignal) {
    if (m_pid > 0)
        kill(m_pid, nSignal);
}

void CSer2net::Stop() {
    if (m_pid <= 0)
        return;
    kill(m_pid, SIGTERM);
    waitpid(m_pid, nullptr, 0);
    m_pid = -1;
}

std::string CSer2net::Output() const {
    std::ifstream log(m_dir / "ser2net.log");
    return std::string(std::istreambuf_iterator<char>(log), {});
}
