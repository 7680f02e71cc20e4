#pragma once
// A package file chosen by the operator, opened for reading as an existing file and not shared
// with another program while the transfer reads it.
#include <cstdint>
#include <string>

class CPackageFile {
public:
    CPackageFile() = default;
    ~CPackageFile();
    CPackageFile(const CPackageFile&) = delete;
    CPackageFile& operator=(const CPackageFile&) = delete;

    // 1 when open; 0 with the OS cause in GetError() (errno; EWOULDBLOCK when another program
    // holds a lock on it).
    int Open(const std::string& strPath);
    void Close();
    bool IsOpen() const { return m_nFd >= 0; }
    int GetError() const { return m_nError; }

    // Length in bytes; -1 when it cannot be told.
    int64_t GetLength() const;
    // Bytes read into pDest (at most nMax), 0 at the end, -1 on a read error.
    int Read(void* pDest, int nMax);

private:
    int m_nFd = -1;
    int m_nError = 0;
};
