// check-package FILE: run by the build over the firmware package before it is compiled into the
// program. Says nothing about a well-formed package; for a malformed one it names the first fault
// and exits 1, and 2 when the file cannot be read.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "transfer/PackageInspector.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: check-package FILE\n", stderr);
        return 2;
    }
    const char* pszPath = argv[1];
    std::ifstream in(pszPath, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "check-package: %s: %s\n", pszPath, std::strerror(errno));
        return 2;
    }
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                     std::istreambuf_iterator<char>()};
    if (in.bad()) {
        std::fprintf(stderr, "check-package: %s: cannot be read\n", pszPath);
        return 2;
    }
    const CPackageReport report = InspectPackage(bytes);
    if (const CPackageFault* pFault = report.FirstFault()) {
        std::fprintf(stderr,
                     "check-package: %s is not a valid firmware package: first fault at offset "
                     "%zu: %s\n",
                     pszPath, pFault->m_nOffset, pFault->m_strWhat.c_str());
        return 1;
    }
    return 0;
}
