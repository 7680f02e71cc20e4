#include "cli/CliCommands.h"

#include <cstring>

// One file a port, written once every run has ended so that no machine waits for a disk.
void CCli::WriteTraces(const std::string& strDir, const std::vector<std::string>& ports,
                       const std::deque<CWireTrace>& traces, int64_t nStartSeconds) {
    if (strDir.empty())
        return;
    for (size_t i = 0; i < traces.size(); ++i) {
        if (traces[i].IsEmpty())
            continue;
        const std::string strPath = TraceFilePath(strDir, ports[i], nStartSeconds);
        if (const int nErrno = traces[i].WriteFile(strPath))
            Error(Text(kIdsCliTraceNotWritten, {strPath, std::strerror(nErrno)}));
    }
}
