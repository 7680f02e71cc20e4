#include "transfer/PackageText.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/FileAccess.h"
#include "resources/Resources.h"
#include "transfer/PackageFile.h"

namespace {

constexpr size_t kTextOffset = 10;
constexpr size_t kTextLength = 22;

// Fills buf from the file's byte 10 on; nothing when the file cannot be opened or read.
void ReadFromFile(const std::string& strPath, char* buf) {
    int fd = OpenRegularFile(strPath);
    if (fd < 0)
        return;
    size_t nDone = 0;
    while (nDone < kTextLength) {
        const ssize_t n = ReadFileAt(fd, buf + nDone, kTextLength - nDone, kTextOffset + nDone);
        if (n <= 0)
            break;
        nDone += static_cast<size_t>(n);
    }
    CloseFile(fd);
}

} // namespace

std::string ReadPackageText(const std::string& strPackagePath) {
    char buf[32] = {};
    if (strPackagePath.empty()) {
        // Only the bytes the resource has: a stand-in set in a test may be shorter than 32.
        CResource res = FindResource("BIN", kIdPackage);
        if (res && res.m_nSize > kTextOffset) {
            size_t n = std::min(kTextLength, res.m_nSize - kTextOffset);
            for (size_t i = 0; i < n && res.m_pData[kTextOffset + i] != 0; ++i)
                buf[i] = static_cast<char>(res.m_pData[kTextOffset + i]);
        }
    } else {
        ReadFromFile(strPackagePath, buf);
    }
    return std::string(buf, strnlen(buf, kTextLength));
}
