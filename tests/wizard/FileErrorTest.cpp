// The file-error report: the OS cause of a failed open sorted into its text.
#include <gtest/gtest.h>

#include <cerrno>

#include "wizard/FileError.h"

namespace {

TEST(FileError, EachCauseHasItsText) {
    struct CCase {
        int m_nErrno;
        const char* m_pszText;
    };
    const CCase cases[] = {
        {ENOENT, "/w/a.ufw was not found."},
        {ENOTDIR, "/w/a.ufw contains an invalid path."},
        {ENAMETOOLONG, "/w/a.ufw contains an invalid path."},
        {EINVAL, "/w/a.ufw contains an invalid path."},
        {EMFILE, "/w/a.ufw could not be opened because there are too many open files."},
        {ENFILE, "/w/a.ufw could not be opened because there are too many open files."},
        {EACCES, "Access to /w/a.ufw was denied."},
        {EPERM, "Access to /w/a.ufw was denied."},
        {EISDIR, "Access to /w/a.ufw was denied."},
        {EIO, "A hardware I/O error was reported while accessing /w/a.ufw."},
        {ETXTBSY, "A sharing violation occurred while accessing /w/a.ufw."},
        {EWOULDBLOCK, "A sharing violation occurred while accessing /w/a.ufw."},
        {ENOLCK, "A locking violation occurred while accessing /w/a.ufw."},
        {ENOTSUP, "/w/a.ufw is not a regular file."},
        {ENXIO, "/w/a.ufw is not a regular file."},
        {ENOSPC, "An unknown error occurred while accessing /w/a.ufw."},
        {0, "An unknown error occurred while accessing /w/a.ufw."},
    };
    for (const CCase& c : cases)
        EXPECT_EQ(FormatFileError(c.m_nErrno, "/w/a.ufw"), c.m_pszText) << c.m_nErrno;
}

TEST(FileError, APathWithPlaceholdersIsPutInAsItStands) {
    EXPECT_EQ(FormatFileError(ENOENT, "/w/%1 and %2.ufw"), "/w/%1 and %2.ufw was not found.");
}

} // namespace
