#include "ufw/RunInspect.h"

#include "ufw/PackageFile.h"

CInspectRun RunInspect(const std::string& strPath, const char* pszProgram, FILE* pOut, FILE* pErr) {
    CInspectRun run;
    run.m_readError = ReadFileToInspect(strPath, run.m_bytes);
    if (run.m_readError)
        return run;
    run.m_report = InspectPackage(run.m_bytes);
    std::fprintf(pOut, "file         %s\n%s", strPath.c_str(),
                 FormatPackageReport(run.m_report).c_str());
    std::fflush(pOut);
    if (const CPackageFault* pFault = run.m_report.FirstFault()) {
        std::fprintf(pErr, "%s: %s: malformed at offset %zu: %s\n", pszProgram, strPath.c_str(),
                     pFault->m_nOffset, pFault->m_strWhat.c_str());
        std::fflush(pErr);
        run.m_nExit = 1;
    } else {
        run.m_nExit = 0;
    }
    return run;
}

std::string DescribeReadError(std::error_code error) {
    return error == std::errc::file_too_large ? "file too large for a package" : error.message();
}
