#pragma once
// The OS cause of a failure, carried in a function's type: an errno as a std::error_code of the
// generic category, so a caller can neither mistake it for a count nor drop it unseen
// ([[nodiscard]] on the functions that return one). Empty (false) means no failure.
#include <cerrno>
#include <system_error>

inline std::error_code OsError(int nErrno) {
    return {nErrno, std::generic_category()};
}
// errno as the last call left it; EIO when a failure left none, so it never reads as success.
inline std::error_code LastOsError() {
    return OsError(errno != 0 ? errno : EIO);
}
