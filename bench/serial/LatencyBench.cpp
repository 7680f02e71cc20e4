// The loader upload through a USB adapter's latency timer, in real time: the built-in transfer
// against a scripted adapter whose far end plays the processor's boot mode. Every loader byte
// waits for its echo, so an adapter that holds received bytes until its 16 ms timer runs out
// holds the whole upload; in low-latency mode the timer is 1 ms. A built-in 16550 port holds
// each echo for its FIFO's time-out of four characters unless the program may set its receive
// trigger to one byte. Prints the upload's time each way against what the loader's bytes and
// their echoes take on the wire at 9600.
#include <linux/serial.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

#include "resources/Resources.h"
#include "tests/support/FakeSerialDevice.h"
#include "tests/support/ProgressLog.h"
#include "tests/support/TempDir.h"
#include "transfer/Transfer.h"

namespace {

using Clock = std::chrono::steady_clock;

// The boot mode as far as the loader goes: 0x00 answered once, 0x55 with 0xAA, the two length
// bytes and every loader byte echoed, 0xAA after the last one. The package that follows is
// taken without a word.
class CBootEcho {
public:
    explicit CBootEcho(int nLoaderLength) : m_nLoaderLength(nLoaderLength) {}

    std::vector<uint8_t> Answer(uint8_t nByte) {
        std::lock_guard lock(m_mutex);
        switch (m_nStage) {
        case 0:
            if (nByte != 0x00)
                return {};
            m_nStage = 1;
            return {0x00};
        case 1:
            if (nByte == 0x00)
                return {}; // still syncing: the program sent more before it saw the answer
            m_nStage = 2;
            return {0xAA};
        case 2:
        case 3:
            ++m_nStage;
            return {nByte};
        case 4:
            if (m_nLoaderBytes++ == 0)
                m_firstLoaderByte = Clock::now();
            if (m_nLoaderBytes < m_nLoaderLength)
                return {nByte};
            m_nStage = 5;
            m_loaderDone = Clock::now();
            m_bDone = true;
            return {nByte, 0xAA};
        default:
            return {};
        }
    }

    bool IsDone() const { return m_bDone; }
    double UploadSeconds() const {
        std::lock_guard lock(m_mutex);
        return std::chrono::duration<double>(m_loaderDone - m_firstLoaderByte).count();
    }

private:
    mutable std::mutex m_mutex;
    const int m_nLoaderLength;
    int m_nStage = 0;
    int m_nLoaderBytes = 0;
    Clock::time_point m_firstLoaderByte, m_loaderDone;
    std::atomic<bool> m_bDone{false};
};

// One transfer, cancelled once the loader is in: the upload's seconds. nFifoTrigger > 0 plays a
// built-in 16550 port instead of a USB adapter: no latency timer, a receive FIFO that holds
// fewer bytes than its trigger level for four characters; bLowLatency then says whether the
// program may lower the trigger.
double UploadThroughAdapter(bool bLowLatency, int nFifoTrigger = 0) {
    CPortsHome home;
    CFakeAdapters adapters;
    const CResource loader = FindResource("BIN", kIdLoader);
    auto pMachine = std::make_shared<CBootEcho>(static_cast<int>(loader.m_nSize));
    CFakeAdapterScript script;
    script.m_nLatencyMs = 16;
    // A driver that ignores the request keeps its 16 ms timer.
    script.m_nFlagsError = bLowLatency ? 0 : EINVAL;
    if (nFifoTrigger > 0) {
        script.m_nLatencyMs = 0;
        script.m_nFlagsError = EINVAL;
        script.m_nRxTrigger = nFifoTrigger;
        script.m_nRxTriggerError = bLowLatency ? 0 : EACCES;
    }
    script.m_fnMachine = [pMachine](uint8_t nByte) { return pMachine->Answer(nByte); };
    adapters.AddCom(home, 1, script);

    CTransferLog log;
    CRecordingOperator op(log);
    op.m_cancelRule = [pMachine] { return pMachine->IsDone(); };
    TransferFirmware("COM1:", nullptr, op);
    if (!pMachine->IsDone()) {
        std::fprintf(stderr, "the loader upload did not complete\n");
        std::exit(1);
    }
    return pMachine->UploadSeconds();
}

} // namespace

int main() {
    const CResource loader = FindResource("BIN", kIdLoader);
    // Each loader byte goes out and comes back: two bytes of ten bits at 9600.
    const double fWire = 2.0 * loader.m_nSize * 10 / 9600;
    std::printf("loader upload of %zu bytes through a USB adapter, each byte echoed\n",
                loader.m_nSize);
    std::printf("  on the wire at 9600        %6.2f s\n", fWire);
    const double fLow = UploadThroughAdapter(true);
    std::printf("  low-latency mode (1 ms)    %6.2f s = %.2f x the wire (target 1.6)\n", fLow,
                fLow / fWire);
    const double fSlow = UploadThroughAdapter(false);
    std::printf("  latency timer 16 ms        %6.2f s = %.2f x the wire\n", fSlow, fSlow / fWire);
    std::printf("loader upload through a built-in 16550A port (receive FIFO)\n");
    const double fFifoOne = UploadThroughAdapter(true, 8);
    std::printf("  rx_trig_bytes set to 1     %6.2f s = %.2f x the wire\n", fFifoOne,
                fFifoOne / fWire);
    const double fFifoEight = UploadThroughAdapter(false, 8);
    std::printf("  rx_trig_bytes left at 8    %6.2f s = %.2f x the wire\n", fFifoEight,
                fFifoEight / fWire);
    return 0;
}
