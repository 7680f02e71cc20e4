// check-package FILE: run by the build over the firmware package before it is compiled into the
// program. Says nothing about a well-formed package; for a malformed one it names the first fault
// and exits 1, and 2 when the file cannot be read.
#include <cstdio>
#include <vector>

#include "ufw/PackageFile.h"
#include "ufw/PackageInspector.h"
#include "ufw/RunInspect.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: check-package FILE\n", stderr);
        return 2;
    }
    const char* pszPath = argv[1];
    std::vector<uint8_t> bytes;
    if (const std::error_code error = ReadFileToInspect(pszPath, bytes)) {
        std::fprintf(stderr, "check-package: %s: %s\n", pszPath, DescribeReadError(error).c_str());
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
