#include "serial/WireTrace.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <system_error>

#include "platform/Clock.h"
#include "platform/FileAccess.h"
#include "platform/System.h"

namespace {

constexpr size_t kBytesPerLine = 16;

void AppendTime(std::string& strOut, int64_t nUs) {
    char szTime[32];
    std::snprintf(szTime, sizeof szTime, "%3lld.%06lld  ", static_cast<long long>(nUs / 1000000),
                  static_cast<long long>(nUs % 1000000));
    strOut += szTime;
}

// ASCII only, whatever the program's locale.
bool IsPrintable(uint8_t nByte) {
    return nByte >= 0x20 && nByte < 0x7f;
}

void AppendBytesLine(std::string& strOut, int64_t nUs, char cKind, const uint8_t* pBytes,
                     size_t nCount) {
    static const char kHex[] = "0123456789abcdef";
    AppendTime(strOut, nUs);
    strOut += cKind;
    bool bPrintable = false;
    for (size_t i = 0; i < nCount; ++i) {
        strOut += ' ';
        strOut += kHex[pBytes[i] >> 4];
        strOut += kHex[pBytes[i] & 15];
        bPrintable = bPrintable || IsPrintable(pBytes[i]);
    }
    if (bPrintable) {
        strOut.append(3 * (kBytesPerLine - nCount) + 2, ' ');
        for (size_t i = 0; i < nCount; ++i)
            strOut += IsPrintable(pBytes[i]) ? static_cast<char>(pBytes[i]) : '.';
    }
    strOut += '\n';
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace

void IWireTrace::TraceStep(const std::string& strName, const std::string& strDetail) {
    TraceEvent(GetClock().GetMicroseconds(),
               "step " + strName + (strDetail.empty() ? std::string() : ": " + strDetail));
}

void IWireTrace::TraceOutcome(const std::string& strText) {
    TraceEvent(GetClock().GetMicroseconds(), "outcome: " + strText);
}

void CWireTrace::TraceBytes(int64_t nUs, bool bSent, const uint8_t* pBytes, size_t nCount) {
    if (nCount == 0)
        return;
    std::lock_guard lock(m_mutex);
    m_records.push_back({nUs, bSent ? '>' : '<', std::string(pBytes, pBytes + nCount)});
}

void CWireTrace::TraceEvent(int64_t nUs, std::string strText) {
    std::lock_guard lock(m_mutex);
    m_records.push_back({nUs, ' ', std::move(strText)});
}

bool CWireTrace::IsEmpty() const {
    std::lock_guard lock(m_mutex);
    return m_records.empty();
}

// Two threads report, each in its own order; the text is put in the order of the times. A run of
// one direction is cut into lines only where the other direction or an event comes between, or
// after 16 bytes, each line timed by the first of its bytes.
std::string CWireTrace::Format() const {
    std::vector<CRecord> records;
    {
        std::lock_guard lock(m_mutex);
        records = m_records;
    }
    std::stable_sort(records.begin(), records.end(),
                     [](const CRecord& a, const CRecord& b) { return a.m_nUs < b.m_nUs; });
    std::string strOut;
    const int64_t nOriginUs = records.empty() ? 0 : records.front().m_nUs;
    for (size_t i = 0; i < records.size();) {
        const CRecord& record = records[i];
        if (record.m_cKind == ' ') {
            AppendTime(strOut, record.m_nUs - nOriginUs);
            strOut += record.m_strData;
            strOut += '\n';
            ++i;
            continue;
        }
        // The run: this record and the following ones of the same direction.
        std::string strRun;
        std::vector<std::pair<size_t, int64_t>> starts; // offset in the run, time
        for (; i < records.size() && records[i].m_cKind == record.m_cKind; ++i) {
            starts.emplace_back(strRun.size(), records[i].m_nUs);
            strRun += records[i].m_strData;
        }
        size_t nStart = 0;
        for (size_t nOffset = 0; nOffset < strRun.size(); nOffset += kBytesPerLine) {
            while (nStart + 1 < starts.size() && starts[nStart + 1].first <= nOffset)
                ++nStart;
            AppendBytesLine(strOut, starts[nStart].second - nOriginUs, record.m_cKind,
                            reinterpret_cast<const uint8_t*>(strRun.data()) + nOffset,
                            std::min(kBytesPerLine, strRun.size() - nOffset));
        }
    }
    return strOut;
}

int CWireTrace::WriteFile(const std::string& strPath) const {
    // A folder named for the trace that is not there yet is made: the run it records is over
    // and cannot be repeated for want of a mkdir.
    return WriteNewFile(strPath, Format());
}

CWindowTrace::CWindowTrace() {
    if (std::string strDir; GetEnvironmentText("VERSIONUP_TRACE", strDir) && !strDir.empty()) {
        m_pTrace = std::make_unique<CWireTrace>();
        m_strDir = strDir;
        m_nStart = GetClock().GetCalendarSeconds();
    }
}

IWireTrace* CWindowTrace::Get() const {
    return m_pTrace.get();
}

std::string CWindowTrace::Save(const std::string& strPort) const {
    if (!m_pTrace || m_pTrace->IsEmpty())
        return {};
    const std::string strPath = TraceFilePath(m_strDir, strPort, m_nStart);
    const int nErrno = m_pTrace->WriteFile(strPath);
    return nErrno ? strPath + ": " + std::strerror(nErrno) : std::string();
}

std::string TraceFilePath(const std::string& strDir, const std::string& strPort,
                          int64_t nUnixSeconds) {
    std::string strName = strPort.empty() ? std::string("discovery") : strPort;
    if (strName.back() == ':')
        strName.pop_back();
    // A device path given for a port ("/dev/ttyUSB0") names the file by its last part.
    strName = strName.substr(strName.find_last_of('/') + 1);
    // A port on a device server ("rfc2217://host:4001") by host and port; Windows allows no
    // colon in a file name.
    std::replace(strName.begin(), strName.end(), ':', '-');
    const std::tm local = LocalTimeOf(nUnixSeconds);
    char szStamp[32];
    std::strftime(szStamp, sizeof szStamp, "%Y%m%dT%H%M%S", &local);
    std::string strPath = strDir;
#ifdef _WIN32
    // The name goes into the record a Windows operator pastes into a Command Prompt, where a
    // '/' would be read as a switch.
    if (!strPath.empty() && strPath.back() != '/' && strPath.back() != '\\')
        strPath += '\\';
#else
    if (!strPath.empty() && strPath.back() != '/')
        strPath += '/';
#endif
    return strPath + strName + "-" + szStamp + ".trace";
}

bool ParseTraceBytes(const std::string& strLine, bool& bSent, std::vector<uint8_t>& bytes) {
    // "   12.518307  < aa 55  .U": the direction after the time, then the hex pairs up to the
    // double space before the printable column.
    const size_t nMark = strLine.find("  ", strLine.find_first_not_of(' '));
    if (nMark == std::string::npos)
        return false;
    size_t nPos = strLine.find_first_not_of(' ', nMark);
    if (nPos == std::string::npos || (strLine[nPos] != '>' && strLine[nPos] != '<'))
        return false;
    bSent = strLine[nPos] == '>';
    ++nPos;
    bytes.clear();
    while (nPos + 2 < strLine.size() && strLine[nPos] == ' ' && strLine[nPos + 1] != ' ') {
        const int nHigh = HexDigit(strLine[nPos + 1]);
        const int nLow = HexDigit(strLine[nPos + 2]);
        if (nHigh < 0 || nLow < 0)
            return false;
        bytes.push_back(static_cast<uint8_t>(nHigh * 16 + nLow));
        nPos += 3;
    }
    return !bytes.empty();
}
