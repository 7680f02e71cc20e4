#pragma once
// Folders of a test's own under /tmp, removed with everything in them at the end, and a private
// ports folder that "COMn:" resolves through, so no test ever opens a real port of the computer.
#include <filesystem>
#include <string>

class CTempDir {
public:
    // Open to every user: some cases run as "nobody".
    explicit CTempDir(const std::string& strName = "versionup-test");
    ~CTempDir();
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;

    const std::filesystem::path& Path() const { return m_path; }
    std::filesystem::path operator/(const std::string& strName) const { return m_path / strName; }

private:
    std::filesystem::path m_path;
};

// XDG_CONFIG_HOME pointed at a folder of its own while this lives (the old value back after),
// with the ports folder inside it.
class CPortsHome {
public:
    CPortsHome();
    ~CPortsHome();
    CPortsHome(const CPortsHome&) = delete;
    CPortsHome& operator=(const CPortsHome&) = delete;

    std::string GetRoot() const { return m_dir.Path().string(); }
    std::string GetPortsDir() const { return (m_dir / "versionup/ports").string(); }
    std::string LinkPath(int nCom) const { return GetPortsDir() + "/com" + std::to_string(nCom); }
    // COMn names strDevice from now on.
    void Relink(int nCom, const std::string& strDevice) const;
    // COMn names a device that does not exist: the port is absent.
    void MakeAbsent(int nCom) const;

private:
    CTempDir m_dir;
    std::string m_strOldConfig;
    bool m_bHadConfig = false;
};
