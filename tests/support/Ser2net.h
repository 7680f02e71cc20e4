#pragma once
// Debian's ser2net as the device server in front of a simulated machine: a configuration of the
// test's own (an RFC 2217 Telnet accepter, or a raw TCP one, on 127.0.0.1 and a free port), a
// pid file of its own, started in the foreground and stopped when the object goes. It never
// touches the system's ser2net service or its configuration.
#include <sys/types.h>

#include <string>

#include "tests/support/TempDir.h"

class CSer2net {
public:
    enum class EAccepter { Rfc2217, RawTcp };
    CSer2net() = default;
    ~CSer2net();
    CSer2net(const CSer2net&) = delete;
    CSer2net& operator=(const CSer2net&) = delete;

    // Serves strDevice (a pseudo-terminal); true once ser2net listens. The failure is told
    // through the test's own assertions (ser2net missing, not listening).
    bool Start(const std::string& strDevice, EAccepter eAccepter = EAccepter::Rfc2217);
    void Kill(int nSignal);
    // Stops it and waits for it to end; the exit status, -1 when it was not running.
    void Stop();

    int GetPort() const { return m_nPort; }
    std::string Url() const { return "rfc2217://127.0.0.1:" + std::to_string(m_nPort); }
    // What ser2net wrote, for a failure message.
    std::string Output() const;

private:
    CTempDir m_dir{"versionup-ser2net"};
    pid_t m_pid = -1;
    int m_nPort = 0;
};

// The ser2net program: from PATH or /usr/sbin (not on a user's PATH on Debian); "" when absent.
std::string FindSer2net();
// The device a link such as a ports folder's comN names, followed to its end.
std::string LinkTarget(const std::string& strLink);
