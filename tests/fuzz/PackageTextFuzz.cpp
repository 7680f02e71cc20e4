// The package header text, from a chosen file and from the built-in resource, for any bytes:
// always bytes 10 to 31 up to the first zero, whatever comes before or after them.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "resources/PackageStrings.h"
#include "resources/Resources.h"
#include "tests/fuzz/FuzzCheck.h"
#include "tests/support/ResourceOverride.h"
#include "ufw/PackageText.h"

namespace {

std::string Expected(const uint8_t* pData, size_t nSize) {
    std::string str;
    for (size_t i = 10; i < nSize && i < 32 && pData[i] != 0; ++i)
        str += static_cast<char>(pData[i]);
    return str;
}

// One file rewritten for every input; in memory where the machine offers it.
const std::string& PackagePath() {
    static const std::string s_strPath = [] {
        std::string strDir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string strTemplate = strDir + "/package-text-fuzz-XXXXXX";
        char* pszDir = mkdtemp(strTemplate.data());
        FUZZ_CHECK(pszDir != nullptr);
        std::string strPath = std::string(pszDir) + "/package.ufw";
        // The folder goes when the run ends, however many inputs it took.
        static std::string s_strDir = pszDir;
        std::atexit([] {
            unlink((s_strDir + "/package.ufw").c_str());
            rmdir(s_strDir.c_str());
        });
        return strPath;
    }();
    return s_strPath;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    const std::string strExpected = Expected(pData, nSize);

    const std::string& strPath = PackagePath();
    int fd = open(strPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    FUZZ_CHECK(fd >= 0);
    FUZZ_CHECK(write(fd, pData, nSize) == static_cast<ssize_t>(nSize));
    close(fd);
    const std::string strFromFile = ReadPackageFileText(strPath);
    FUZZ_CHECK(strFromFile == strExpected);

    {
        CResourceOverride resources;
        resources.Replace("BIN", kIdPackage, std::vector<unsigned char>(pData, pData + nSize));
        const std::string strBuiltin = ReadPackageText("");
        FUZZ_CHECK(strBuiltin == strExpected);
    }
    FUZZ_CHECK(strFromFile.size() <= 22 && strFromFile.find('\0') == std::string::npos);
    return 0;
}
