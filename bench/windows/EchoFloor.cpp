// The floor of one loader echo through the Win32 serial calls: writes a byte to COM1 and waits
// for its echo, the way the loader upload does, with nothing of the program around it. A peer
// echoes every byte at once (echo-floor.sh starts one on a pseudo-terminal under wine). Prints
// the median, the 90th percentile and the slowest round trip for each way of waiting:
//   read       a one-byte overlapped read that stays pending until a byte arrives
//   commevent  WaitCommEvent(EV_RXCHAR), then a read that returns at once (MAXDWORD/0/0)
//   poll       ClearCommError until the byte is there (busy; the lowest the driver allows)
//   program    the program's own port (CSerialPort: its receive thread and WaitForByte) at
//              115200 baud, where a byte's wire time, which each write waits out, is 87 us
#include "platform/Win32Api.h"
#include "serial/SerialPort.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

void SetReadTimeouts(HANDLE h, DWORD dwMultiplier, DWORD dwConstant) {
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = MAXDWORD;
    t.ReadTotalTimeoutMultiplier = dwMultiplier;
    t.ReadTotalTimeoutConstant = dwConstant;
    SetCommTimeouts(h, &t);
}

bool WriteOne(HANDLE h, OVERLAPPED& ov, uint8_t n) {
    DWORD dw = 0;
    ResetEvent(ov.hEvent);
    if (WriteFile(h, &n, 1, &dw, &ov))
        return dw == 1;
    return GetLastError() == ERROR_IO_PENDING && GetOverlappedResult(h, &ov, &dw, TRUE) && dw == 1;
}

bool ReadNow(HANDLE h, OVERLAPPED& ov, uint8_t& n) {
    DWORD dw = 0;
    ResetEvent(ov.hEvent);
    if (!ReadFile(h, &n, 1, &dw, &ov) &&
        (GetLastError() != ERROR_IO_PENDING || !GetOverlappedResult(h, &ov, &dw, TRUE)))
        return false;
    return dw == 1;
}

DWORD Queued(HANDLE h) {
    DWORD dwErrors = 0;
    COMSTAT stat{};
    return ClearCommError(h, &dwErrors, &stat) ? stat.cbInQue : 0;
}

bool EchoRead(HANDLE h, OVERLAPPED& ov, uint8_t& n) {
    return ReadNow(h, ov, n); // timeouts MAXDWORD/MAXDWORD/1000: waits for the first byte
}

bool EchoCommEvent(HANDLE h, OVERLAPPED& ov, uint8_t& n) {
    while (Queued(h) == 0) {
        DWORD dwMask = 0;
        ResetEvent(ov.hEvent);
        if (!WaitCommEvent(h, &dwMask, &ov)) {
            DWORD dw = 0;
            if (GetLastError() != ERROR_IO_PENDING || WaitForSingleObject(ov.hEvent, 1000) != 0)
                return false;
            GetOverlappedResult(h, &ov, &dw, FALSE);
        }
    }
    return ReadNow(h, ov, n);
}

bool EchoPoll(HANDLE h, OVERLAPPED& ov, uint8_t& n) {
    while (Queued(h) == 0) {
    }
    return ReadNow(h, ov, n);
}

void Report(const char* pszWay, std::vector<double>& us) {
    if (us.empty())
        return;
    std::sort(us.begin(), us.end());
    std::printf("%-10s %5zu echoes: median %7.0f us, 90%% %7.0f us, slowest %7.0f us\n", pszWay,
                us.size(), us[us.size() / 2], us[us.size() * 9 / 10], us.back());
}

} // namespace

int main(int argc, char** argv) {
    const int nCount = argc > 1 ? std::atoi(argv[1]) : 2000;
    const HANDLE h = CreateFileW(L"\\\\.\\COM1", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "echo-floor: COM1 does not open (%lu)\n", GetLastError());
        return 1;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    GetCommState(h, &dcb);
    dcb.BaudRate = 9600;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = dcb.fOutX = dcb.fInX = FALSE;
    SetCommState(h, &dcb);
    SetCommMask(h, EV_RXCHAR);
    OVERLAPPED ovWrite{}, ovRead{};
    ovWrite.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ovRead.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);

    struct CWay {
        const char* m_pszName;
        bool (*m_fnEcho)(HANDLE, OVERLAPPED&, uint8_t&);
        DWORD m_dwMultiplier, m_dwConstant;
    };
    const CWay ways[] = {{"read", EchoRead, MAXDWORD, 1000},
                         {"commevent", EchoCommEvent, 0, 0},
                         {"poll", EchoPoll, 0, 0}};
    int nFailed = 0;
    for (const CWay& way : ways) {
        SetReadTimeouts(h, way.m_dwMultiplier, way.m_dwConstant);
        PurgeComm(h, PURGE_RXCLEAR | PURGE_TXCLEAR);
        std::vector<double> us;
        for (int i = 0; i < nCount; ++i) {
            const uint8_t nOut = static_cast<uint8_t>(i * 7 + 1);
            uint8_t nIn = 0;
            const auto start = Clock::now();
            if (!WriteOne(h, ovWrite, nOut) || !way.m_fnEcho(h, ovRead, nIn) || nIn != nOut) {
                std::fprintf(stderr, "echo-floor: %s: echo %d lost\n", way.m_pszName, i);
                ++nFailed;
                break;
            }
            us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        }
        Report(way.m_pszName, us);
    }
    CloseHandle(h);

    CSerialPort port;
    if (!port.Open("COM1:", 115200, "N81")) {
        std::fprintf(stderr, "echo-floor: program: COM1 does not open\n");
        return 1;
    }
    std::vector<double> us;
    for (int i = 0; i < nCount; ++i) {
        const uint8_t nOut = static_cast<uint8_t>(i * 7 + 1);
        const auto start = Clock::now();
        if (!port.WriteByte(nOut) || !port.WaitForByte(1000) || port.ReadByte() != nOut) {
            std::fprintf(stderr, "echo-floor: program: echo %d lost\n", i);
            ++nFailed;
            break;
        }
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    Report("program", us);
    return nFailed ? 1 : 0;
}
