#pragma once
// Runs one of the tools/ commands the way a person would, in a scratch folder of its own.
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

struct CCommandResult {
    int m_nExit = -1;
    std::string m_strOut;
    std::string m_strErr;
};

inline std::string ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::vector<unsigned char> ReadBytes(const std::filesystem::path& path) {
    std::string str = ReadAll(path);
    return {str.begin(), str.end()};
}

inline void WriteBytes(const std::filesystem::path& path, const std::vector<unsigned char>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

class CScratchDir {
public:
    CScratchDir() {
        std::string str =
            (std::filesystem::temp_directory_path() / "versionup-tools-XXXXXX").string();
        if (mkdtemp(str.data()))
            m_path = str;
    }
    ~CScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    const std::filesystem::path& Path() const { return m_path; }
    std::filesystem::path operator/(const std::string& str) const { return m_path / str; }

    // argv[0] is a program path; every argument is passed as it is, whatever it holds.
    CCommandResult Run(const std::vector<std::string>& args) const {
        std::string strCommand;
        for (const std::string& arg : args) {
            strCommand += " '";
            for (char c : arg)
                strCommand += c == '\'' ? std::string("'\\''") : std::string(1, c);
            strCommand += "'";
        }
        const std::filesystem::path out = m_path / ".stdout", err = m_path / ".stderr";
        strCommand += " >'" + out.string() + "' 2>'" + err.string() + "' </dev/null";
        int nStatus = std::system(strCommand.c_str());
        CCommandResult result;
        result.m_nExit = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
        result.m_strOut = ReadAll(out);
        result.m_strErr = ReadAll(err);
        std::filesystem::remove(out);
        std::filesystem::remove(err);
        return result;
    }

private:
    std::filesystem::path m_path;
};
