#include <cctype>
#include <string>

#include "ports/PortMap.h"

// One reading on both systems: a name the operator typed on Linux must mean what it means to
// Windows, which has no "COM07".
int ParseComNumber(const std::string& strPort) {
    if (strPort.size() < 4)
        return 0;
    for (int i = 0; i < 3; ++i) {
        if (std::toupper(static_cast<unsigned char>(strPort[i])) != "COM"[i])
            return 0;
    }
    size_t nEnd = strPort.size();
    if (strPort[nEnd - 1] == ':')
        --nEnd;
    if (nEnd == 3 || strPort[3] == '0')
        return 0;
    int nNumber = 0;
    for (size_t i = 3; i < nEnd; ++i) {
        if (strPort[i] < '0' || strPort[i] > '9')
            return 0;
        nNumber = nNumber * 10 + (strPort[i] - '0');
        if (nNumber > kHighestComNumber)
            return 0;
    }
    return nNumber;
}

const CPortEntry* CPortTable::Find(int nCom) const {
    for (const CPortEntry& entry : m_entries) {
        if (entry.m_nCom == nCom)
            return &entry;
    }
    return nullptr;
}
