#pragma once
// A folder of a test's own under /tmp, open to every user (one case runs as "nobody"), removed
// with everything in it at the end.
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

class CTempDir {
public:
    explicit CTempDir(const char* pszName = "versionup-hardening") {
        std::string strTemplate = std::string("/tmp/") + pszName + "-XXXXXX";
        if (!mkdtemp(strTemplate.data()))
            std::abort();
        chmod(strTemplate.c_str(), 0755);
        m_path = strTemplate;
    }
    ~CTempDir() {
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
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;

    const std::filesystem::path& Path() const { return m_path; }
    std::string operator/(const std::string& strName) const { return (m_path / strName).string(); }

private:
    std::filesystem::path m_path;
};
