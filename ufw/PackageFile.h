#pragma once
// A package file chosen by the operator, opened for reading as an existing file and not shared
// with another program while the transfer reads it.
#include <cstdint>
#include <string>
#include <system_error>
#include <vector>

// The built-in package is about 120 KB; a file many times that size is no package, and is
// refused without being read whole, by every reader of package files.
constexpr int64_t kMaxPackageFileSize = int64_t(16) << 20;

// Only a regular file is a package: a FIFO would hold the window while it is read and a device
// would be sent without end. No error when nFd is one (its length in *pnLength when asked for);
// else EISDIR for a folder, ENOTSUP for a FIFO, device or socket.
[[nodiscard]] std::error_code CheckRegularFile(int nFd, int64_t* pnLength = nullptr);
// Opens strPath for reading if it is a regular file, without waiting for a FIFO's writer or
// making a terminal ours on the way: the descriptor, or -1 with errno set.
int OpenRegularFile(const std::string& strPath);

// Reads strPath whole for inspection, whatever kind of file it is (the inspector looks at what
// the wizard would refuse too), but no more than kMaxPackageFileSize bytes: EFBIG beyond it.
[[nodiscard]] std::error_code ReadFileToInspect(const std::string& strPath,
                                                std::vector<uint8_t>& bytes);

class CPackageFile {
public:
    CPackageFile() = default;
    ~CPackageFile();
    CPackageFile(const CPackageFile&) = delete;
    CPackageFile& operator=(const CPackageFile&) = delete;

    // 1 when open; 0 with the OS cause in GetError() (EWOULDBLOCK when another program holds a
    // lock on it).
    int Open(const std::string& strPath);
    void Close();
    bool IsOpen() const { return m_nFd >= 0; }
    std::error_code GetError() const { return m_error; }

    // Length in bytes; -1 when it cannot be told.
    int64_t GetLength() const;
    // Bytes read into pDest (at most nMax), 0 at the end, -1 on a read error.
    int Read(void* pDest, int nMax);

private:
    int m_nFd = -1;
    std::error_code m_error;
};
