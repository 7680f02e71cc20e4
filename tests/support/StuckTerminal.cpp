#include "tests/support/StuckTerminal.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>

CStuckTerminal::CStuckTerminal() {
    m_nMaster = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_nMaster < 0 || ::grantpt(m_nMaster) != 0 || ::unlockpt(m_nMaster) != 0)
        return;
    m_nSlave = ::open(::ptsname(m_nMaster), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (m_nSlave < 0)
        return;
    // The kernel moves what was written on to the reading side a little later, which makes
    // room again: the buffer is full once a pause has made none.
    for (int nRound = 0; nRound < 100; ++nRound) {
        size_t nWritten = 0;
        while (::write(m_nSlave, "x", 1) == 1)
            ++nWritten;
        if (errno != EAGAIN)
            return;
        if (nWritten == 0 && nRound > 0) {
            m_bFull = true;
            break;
        }
        ::usleep(50000);
    }
    ::fcntl(m_nSlave, F_SETFL, ::fcntl(m_nSlave, F_GETFL) & ~O_NONBLOCK);
}

CStuckTerminal::~CStuckTerminal() {
    if (m_nSlave >= 0)
        ::close(m_nSlave);
    if (m_nMaster >= 0)
        ::close(m_nMaster);
}
