#pragma once
// Files as the package reader needs them: opened for reading as bytes (never as text, never as
// the controlling terminal, never waiting on a FIFO), told apart from what is no regular file,
// locked against other writers, and read at an offset. Descriptors and errno values as in POSIX,
// on Windows too, so the callers and the texts that name a cause stay the same.
#include <sys/types.h>

#include <cstdint>
#include <string>

// Writes strData into a new file strPath, making the folders it lies in; never replaces a file
// that is there (EEXIST). 0, or the errno of what failed. Paths are UTF-8; on Windows they reach
// the system as UTF-16, so a folder named in any script works whatever the ANSI code page.
[[nodiscard]] int WriteNewFile(const std::string& strPath, const std::string& strData);

// A descriptor for reading strPath, or -1 with errno set.
int OpenFileToRead(const std::string& strPath);
void CloseFile(int nFd);

// 0 when nFd is a regular file (its length in *pnLength when asked for); EISDIR for a folder,
// ENOTSUP for anything else that is no regular file, or the errno why it cannot be asked.
int GetRegularFileLength(int nFd, int64_t* pnLength);

// Takes an exclusive lock without waiting: 0, EWOULDBLOCK when another program holds one, or the
// errno of a file system that cannot lock.
int LockFileExclusive(int nFd);

#ifdef _WIN32
// The errno whose text names the cause a Windows error code of a file call stands for; a code
// without such a text gives an errno that reads as an unknown error, never another cause.
int ErrnoOfWinError(unsigned long nError);
#endif

// Reads at the current position, or at nOffset without moving it: the count, 0 at the end, -1
// with errno set.
ssize_t ReadFileSome(int nFd, void* pDest, size_t nMax);
ssize_t ReadFileAt(int nFd, void* pDest, size_t nMax, int64_t nOffset);
