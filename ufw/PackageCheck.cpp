#include "ufw/PackageCheck.h"

#include <cerrno>

#include "platform/OsError.h"

namespace {

constexpr int kReadPiece = 64 * 1024;

CLoadedPackage FileError(std::error_code error) {
    CLoadedPackage loaded;
    loaded.m_eResult = EPackageLoad::FileError;
    // A failure must never pass for success just because the OS gave no cause.
    loaded.m_nErrno = error ? error.value() : EIO;
    return loaded;
}

CLoadedPackage TooLarge() {
    CLoadedPackage loaded;
    loaded.m_eResult = EPackageLoad::TooLarge;
    return loaded;
}

} // namespace

CLoadedPackage LoadCheckedPackage(const std::string& strPath) {
    // Through CPackageFile: the same regular-file check and lock as every other open of a chosen
    // package, so the reasons an operator reads stay the same.
    CPackageFile file;
    if (!file.Open(strPath))
        return FileError(file.GetError());
    errno = 0;
    const int64_t nLength = file.GetLength();
    if (nLength < 0)
        return FileError(LastOsError());
    if (nLength > kMaxPackageFileSize)
        return TooLarge();

    std::vector<uint8_t> bytes;
    bytes.reserve(static_cast<size_t>(nLength));
    // The file may grow between the size and the reads; one byte past the limit is enough to
    // know it is too large.
    for (;;) {
        const size_t nHave = bytes.size();
        const int64_t nRoom = kMaxPackageFileSize + 1 - static_cast<int64_t>(nHave);
        if (nRoom <= 0)
            return TooLarge();
        const int nWant = static_cast<int>(nRoom < kReadPiece ? nRoom : kReadPiece);
        bytes.resize(nHave + static_cast<size_t>(nWant));
        const int nRead = file.Read(bytes.data() + nHave, nWant);
        if (nRead < 0)
            return FileError(file.GetError());
        bytes.resize(nHave + static_cast<size_t>(nRead));
        if (nRead == 0)
            break;
    }
    file.Close();

    const CPackageReport report = InspectPackage(bytes);
    CLoadedPackage loaded;
    if (const CPackageFault* pFault = report.FirstFault()) {
        loaded.m_eResult = EPackageLoad::Malformed;
        loaded.m_fault = *pFault;
        return loaded;
    }
    loaded.m_eResult = EPackageLoad::Ok;
    loaded.m_bytes = std::move(bytes);
    return loaded;
}
