// Stand-ins for pieces other folders are still building; removed as each lands.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>

#include "resources/Strings.h"
#include "transfer/PackageFile.h"

std::string LoadString(unsigned nId) {
    static const std::map<unsigned, std::string> texts = {
        {101, "&About..."},
        {108, "Transmission faild. Try again."},
        {111, "Put the Scan Unit on the machine."},
        {112, "Connect the machine with the PC and turn on the power switch."},
        {113, "Checking Firmware Version."},
        {115, "Disconnect the AC Adapter.\r\nDON'T TURN OFF THE POWER SWITCH!!"},
        {116, "Upgrading the Firmware."},
        {117, "Transit completed.\r\nMake sure LED blinks slowly."},
        {118, "Pull out the Jumper Blocks on J1&J2"},
        {119, "Put the Jumper Blocks on J9&J10."},
        {120, "Upgrade completed."},
        {121, "Pull out the Jumper Blocks from J9&J10"},
        {122, "Put the Jumper Blocks on J1&J2"},
        {123, "Connect the AC Adapter."},
    };
    auto it = texts.find(nId);
    return it == texts.end() ? std::string() : it->second;
}

std::string ReadPackageText(const std::string& strPath) {
    char buffer[32] = {};
    const int nFd = ::open(strPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (nFd < 0)
        return {};
    if (lseek(nFd, 10, SEEK_SET) == 10 && read(nFd, buffer + 10, 22) < 0)
        buffer[10] = 0;
    ::close(nFd);
    return std::string(buffer + 10, strnlen(buffer + 10, 22));
}

CPackageFile::~CPackageFile() {
    Close();
}

int CPackageFile::Open(const std::string& strPath) {
    Close();
    m_nFd = ::open(strPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (m_nFd < 0) {
        m_nError = errno;
        return 0;
    }
    return 1;
}

void CPackageFile::Close() {
    if (m_nFd >= 0)
        ::close(m_nFd);
    m_nFd = -1;
}

int64_t CPackageFile::GetLength() const {
    struct stat st {};
    return fstat(m_nFd, &st) == 0 ? st.st_size : -1;
}

int CPackageFile::Read(void* pDest, int nMax) {
    return static_cast<int>(::read(m_nFd, pDest, nMax));
}
