#include "ufw/PackageText.h"

#include "platform/FileAccess.h"
#include "ufw/PackageFile.h"

namespace {

constexpr size_t kTextOffset = 10;
constexpr size_t kTextLength = 22;

} // namespace

std::string PackageHeaderText(const uint8_t* pData, size_t nSize) {
    std::string str;
    for (size_t i = kTextOffset; i < nSize && i < kTextOffset + kTextLength && pData[i] != 0; ++i)
        str += static_cast<char>(pData[i]);
    return str;
}

std::string ReadPackageFileText(const std::string& strPath) {
    uint8_t buf[kTextOffset + kTextLength] = {};
    int fd = OpenRegularFile(strPath);
    if (fd < 0)
        return {};
    size_t nDone = 0;
    while (nDone < kTextLength) {
        const ssize_t n =
            ReadFileAt(fd, buf + kTextOffset + nDone, kTextLength - nDone, kTextOffset + nDone);
        if (n <= 0)
            break;
        nDone += static_cast<size_t>(n);
    }
    CloseFile(fd);
    return PackageHeaderText(buf, kTextOffset + nDone);
}
