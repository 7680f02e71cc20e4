#include "ufw/RunInspect.h"

#include "ufw/PackageFile.h"

CInspectRun InspectFile(const std::string& strPath, const char* pszProgram) {
    CInspectRun run;
    run.m_readError = ReadFileToInspect(strPath, run.m_bytes);
    if (run.m_readError)
        return run;
    run.m_report = InspectPackage(run.m_bytes);
    run.m_strOut = "file         " + strPath + "\n" + FormatPackageReport(run.m_report);
    if (const CPackageFault* pFault = run.m_report.FirstFault()) {
        run.m_strErr = std::string(pszProgram) + ": " + strPath + ": malformed at offset " +
                       std::to_string(pFault->m_nOffset) + ": " + pFault->m_strWhat + "\n";
        run.m_nExit = 1;
    } else {
        run.m_nExit = 0;
    }
    return run;
}

CInspectRun RunInspect(const std::string& strPath, const char* pszProgram, FILE* pOut, FILE* pErr) {
    CInspectRun run = InspectFile(strPath, pszProgram);
    std::fputs(run.m_strOut.c_str(), pOut);
    std::fflush(pOut);
    if (!run.m_strErr.empty()) {
        std::fputs(run.m_strErr.c_str(), pErr);
        std::fflush(pErr);
    }
    return run;
}

std::string DescribeReadError(std::error_code error) {
    return error == std::errc::file_too_large ? "file too large for a package" : error.message();
}
