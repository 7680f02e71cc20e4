#include "tests/support/TempDir.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <cstdlib>

CTempDir::CTempDir(const std::string& strName) {
    std::string strTemplate = "/tmp/" + strName + "-XXXXXX";
    if (!mkdtemp(strTemplate.data()))
        std::abort();
    chmod(strTemplate.c_str(), 0755);
    m_path = strTemplate;
}

CTempDir::~CTempDir() {
    std::error_code ec;
    // Give back what a case took away, or remove_all cannot go in.
    for (const auto& entry : std::filesystem::recursive_directory_iterator(
             m_path, std::filesystem::directory_options::skip_permission_denied, ec)) {
        if (entry.is_directory(ec) && !entry.is_symlink(ec))
            chmod(entry.path().c_str(), 0755);
    }
    chmod(m_path.c_str(), 0755);
    std::filesystem::remove_all(m_path, ec);
}

CPortsHome::CPortsHome() : m_dir("versionup-ports") {
    std::filesystem::create_directories(GetPortsDir());
    // Readable by everyone, like the folder itself: one case opens the ports as "nobody".
    for (const char* pszSub : {"versionup", "versionup/ports"})
        chmod((m_dir / pszSub).c_str(), 0755);
    if (const char* pszOld = std::getenv("XDG_CONFIG_HOME")) {
        m_bHadConfig = true;
        m_strOldConfig = pszOld;
    }
    setenv("XDG_CONFIG_HOME", GetRoot().c_str(), 1);
}

CPortsHome::~CPortsHome() {
    if (m_bHadConfig)
        setenv("XDG_CONFIG_HOME", m_strOldConfig.c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");
}

void CPortsHome::Relink(int nCom, const std::string& strDevice) const {
    std::error_code ec;
    std::filesystem::remove(LinkPath(nCom), ec);
    std::filesystem::create_symlink(strDevice, LinkPath(nCom), ec);
}

void CPortsHome::MakeAbsent(int nCom) const {
    Relink(nCom, "/nonexistent/ttyUSB" + std::to_string(nCom - 1));
}
