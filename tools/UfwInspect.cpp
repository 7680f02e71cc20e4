// ufw-inspect: tells what a firmware package (.ufw) holds before it is sent, and can write its
// sections as S-record files for other tools.
//
// Exit status: 0 well-formed, 1 malformed (the first fault is named), 2 the file cannot be read
// or the S-record files cannot be written, or a wrong command line.
#include <getopt.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "ufw/RunInspect.h"

namespace {

constexpr const char* kUsage =
    "usage: ufw-inspect [-s DIR] FILE\n"
    "Shows the tag, header text, sections, records, memory and checksums of a firmware package.\n"
    "\n"
    "  -s, --srec DIR   also write each complete section to DIR as a Motorola S-record file\n"
    "  -h, --help       show this help\n"
    "\n"
    "Exit status: 0 well-formed, 1 malformed, 2 the file cannot be read or written.\n";

bool WriteText(const std::string& strPath, const std::string& strText) {
    FILE* pFile = std::fopen(strPath.c_str(), "w");
    if (!pFile) {
        std::fprintf(stderr, "ufw-inspect: %s: %s\n", strPath.c_str(), std::strerror(errno));
        return false;
    }
    bool bOk = std::fwrite(strText.data(), 1, strText.size(), pFile) == strText.size();
    int nError = errno;
    if (std::fclose(pFile) != 0) {
        bOk = false;
        nError = errno;
    }
    if (!bOk)
        std::fprintf(stderr, "ufw-inspect: %s: %s\n", strPath.c_str(), std::strerror(nError));
    return bOk;
}

} // namespace

int main(int argc, char** argv) {
    const option options[] = {
        {"srec", required_argument, nullptr, 's'},
        {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };
    const char* pszSrecDir = nullptr;
    for (int c; (c = getopt_long(argc, argv, "s:h", options, nullptr)) != -1;) {
        switch (c) {
        case 's':
            pszSrecDir = optarg;
            break;
        case 'h':
            std::fputs(kUsage, stdout);
            return 0;
        default:
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    if (optind != argc - 1) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const char* pszPath = argv[optind];

    const CInspectRun run = RunInspect(pszPath, "ufw-inspect", stdout, stderr);
    if (run.m_readError) {
        std::fprintf(stderr, "ufw-inspect: %s: %s\n", pszPath,
                     DescribeReadError(run.m_readError).c_str());
        return 2;
    }

    const CPackageReport& report = run.m_report;
    if (pszSrecDir) {
        std::set<std::string> used;
        for (size_t i = 0; i < report.m_sections.size(); ++i) {
            const CPackageSection& section = report.m_sections[i];
            if (!section.m_bComplete)
                continue;
            std::string strName = SectionFileName(section, i + 1);
            if (!used.insert(strName).second) {
                CPackageSection unnamed = section;
                unnamed.m_strName.clear();
                strName = SectionFileName(unnamed, i + 1);
                used.insert(strName);
            }
            std::string strPath = std::string(pszSrecDir) + "/" + strName;
            if (!WriteText(strPath, SectionAsSRecords(run.m_bytes, section)))
                return 2;
            std::printf("wrote        %s\n", strPath.c_str());
        }
    }
    return run.m_nExit;
}
