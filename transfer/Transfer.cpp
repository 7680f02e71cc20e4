#include "transfer/Transfer.h"

#include <cstdint>
#include <cstdio>
#include <iterator>
#include <limits>
#include <memory>

#include "frontend/Operator.h"
#include "frontend/ProgressSink.h"
#include "platform/Clock.h"
#include "resources/Resources.h"
#include "resources/StringIds.h"
#include "resources/Strings.h"
#include "serial/SerialPort.h"
#include "serial/WireTrace.h"

namespace {

constexpr uint32_t kLoaderBaud = 9600;
constexpr uint32_t kPackageBaud = 38400;
constexpr const char* kLoaderMode = "N81";
constexpr const char* kPackageMode = "N81H";

constexpr int kSyncByte = 0x00;
constexpr int kBitRateByte = 0x55;
constexpr int kAcceptByte = 0xAA;

// The boot mode's progress counts eight units for each loader byte against one per package byte.
constexpr int64_t kLoaderWeight = 8;
constexpr int kPieceSize = 256;

constexpr int kSettleMs = 500;
constexpr int kLoaderStartMs = 1000;
constexpr int kFinishMs = 1000;

// Between two polls of an empty receive buffer the reply wait sleeps on the port for at most this
// long: short enough that Cancel stays prompt, long enough that a slow machine costs no CPU.
constexpr int kReplyPollMs = 10;

constexpr int64_t kMaxPosition = std::numeric_limits<int32_t>::max();

constexpr int kReplyFailed = -1;

// Stands in when the operator has no dialog to give, so the run needs no null checks.
class CNoProgress : public IProgressSink {
public:
    int Create() override { return 0; }
    void SetMessage(const std::string&) override {}
    void SetRange(int32_t, int32_t) override {}
    int SetPos(int32_t) override { return 0; }
    int CheckCancel() override { return 0; }
};

// The words a trace gives each step.
const char* TraceName(ETransferStep eStep) {
    switch (eStep) {
    case ETransferStep::Open:
        return "open";
    case ETransferStep::Sync:
        return "sync";
    case ETransferStep::BitRate:
        return "bit rate";
    case ETransferStep::Length:
        return "length";
    case ETransferStep::Loader:
        return "loader";
    case ETransferStep::LoaderEnd:
        return "loader end";
    case ETransferStep::OpenPackage:
        return "open for the package";
    case ETransferStep::Package:
        return "package";
    case ETransferStep::Finish:
        return "finish";
    }
    return "?";
}

class CTransferRun {
public:
    CTransferRun(const std::string& strPort, const std::vector<uint8_t>* pPackage, IOperator& op,
                 const CTransferOptions& options)
        : m_strPort(strPort), m_pChosen(pPackage), m_op(op),
          m_nReplyLimitMs(options.m_nReplyLimitMs) {}

    // The members hold the port and the dialog, so every way out of Run ends with the port closed
    // and destroyed first, then the dialog destroyed (which enables the main window again).
    int Run();
    const CTransferOutcome& GetOutcome() const { return m_outcome; }

private:
    // Notes why the run fails; false, for the caller to return.
    bool Fail(ETransferFault eFault) {
        if (m_outcome.m_eFault == ETransferFault::None) {
            m_outcome.m_eFault = eFault;
            if (eFault == ETransferFault::HungUp && m_pPort)
                m_outcome.m_strGone = m_pPort->GetDeadCause();
        }
        return false;
    }
    // A write that did not complete: the machine hung up, the operator cancelled while the
    // machine held the line, or it held the line past the port's stall limit.
    bool FailWrite() {
        if (m_pPort->IsDead())
            return Fail(ETransferFault::HungUp);
        switch (m_pPort->GetWriteEnd()) {
        case EWriteEnd::Cancelled:
            return Fail(ETransferFault::Cancelled);
        case EWriteEnd::Unconfirmed:
            return Fail(ETransferFault::Unconfirmed);
        default:
            return Fail(ETransferFault::WriteFailed);
        }
    }
    // The step is noted for the outcome, told to the sink and written into the trace (where the
    // port's own open line stands for the first one).
    void Enter(ETransferStep eStep, const std::string& strDetail = {}) {
        m_outcome.m_eStep = eStep;
        m_pProgress->OnStepEntered(eStep);
        IWireTrace* pTrace = m_op.GetWireTrace();
        if (pTrace && eStep != ETransferStep::Open)
            pTrace->TraceStep(TraceName(eStep), strDetail);
    }
    bool SizePackage();
    bool OpenPort(uint32_t nBaud, const char* pszMode);
    int WaitReply(bool bSync);
    bool Exchange(int nSend, int nExpected);
    bool Expect(int nReply, int nExpected);
    bool UploadLoader(const CResource& loader);
    bool SendPackage(const unsigned char* pPiece, bool bCancelLast);
    bool Advance(int64_t nCount);

    const std::string& m_strPort;
    const std::vector<uint8_t>* m_pChosen;
    IOperator& m_op;
    const int m_nReplyLimitMs;
    CTransferOutcome m_outcome;

    std::unique_ptr<IProgressSink> m_pProgress;
    std::unique_ptr<CSerialPort> m_pPort;

    int64_t m_nPackageSize = 0;
    CResource m_package;
    int64_t m_nPos = 0;
};

int CTransferRun::Run() {
    m_pProgress = m_op.CreateProgress();
    if (!m_pProgress)
        m_pProgress = std::make_unique<CNoProgress>();
    // The run goes on without a window: it only loses the way to cancel.
    m_pProgress->Create();
    m_pProgress->SetMessage(LoadString(kIdsUpgrading));
    Enter(ETransferStep::Open);

    if (!SizePackage())
        return Fail(ETransferFault::BadPackage);
    m_pProgress->SetRange(0, static_cast<int32_t>(m_nPackageSize - 1));

    if (!OpenPort(kLoaderBaud, kLoaderMode))
        return 0;

    const CResource loader = FindResource("BIN", kIdLoader);
    if (!loader)
        return Fail(ETransferFault::NoLoader);
    const int64_t nLoaderUnits = kLoaderWeight * static_cast<int64_t>(loader.m_nSize);
    if (m_nPackageSize + nLoaderUnits > kMaxPosition)
        return Fail(ETransferFault::BadPackage);
    m_pProgress->SetRange(0, static_cast<int32_t>(m_nPackageSize + nLoaderUnits - 1));

    if (!UploadLoader(loader))
        return 0;

    GetClock().Sleep(kLoaderStartMs);
    // Only one port object may exist at a time: the first must be gone before the second.
    m_pPort->Close();
    m_pPort.reset();

    Enter(ETransferStep::OpenPackage);
    if (!OpenPort(kPackageBaud, kPackageMode))
        return 0;

    Enter(ETransferStep::Package, std::to_string(m_nPackageSize) + " bytes");
    m_nPos = nLoaderUnits;
    if (!(m_pChosen ? SendPackage(m_pChosen->data(), true) : SendPackage(m_package.m_pData, false)))
        return 0;

    Enter(ETransferStep::Finish);
    // The operator sees the wait cursor for this last pause only.
    m_op.BeginWaitCursor();
    GetClock().Sleep(kFinishMs);
    // A machine that hung up before the last bytes left the port did not get the package.
    const bool bDead = m_pPort->IsDead();
    m_pPort->Close();
    m_op.EndWaitCursor();
    if (bDead)
        return Fail(ETransferFault::HungUp);
    // The close waits for the last bytes to leave; when they could not, they were thrown away.
    if (m_pPort->GetWriteEnd() != EWriteEnd::Done)
        return FailWrite();
    return 1;
}

bool CTransferRun::SizePackage() {
    if (m_pChosen) {
        m_nPackageSize = static_cast<int64_t>(m_pChosen->size());
    } else {
        m_package = FindResource("BIN", kIdPackage);
        m_nPackageSize = m_package ? static_cast<int64_t>(m_package.m_nSize) : 0;
    }
    // Every progress position must stay within 32 bits; a bigger package fails here rather than
    // wrapping the bar round later.
    return m_nPackageSize <= kMaxPosition;
}

bool CTransferRun::OpenPort(uint32_t nBaud, const char* pszMode) {
    m_pPort = std::make_unique<CSerialPort>();
    m_pPort->SetTrace(m_op.GetWireTrace());
    // A write the machine holds by flow control is waited out, yet Cancel still ends it.
    m_pPort->SetCancelCheck([this] { return m_pProgress->CheckCancel() != 0; });
    // The boot mode answers every byte: its replies must not wait in a UART's FIFO.
    m_pPort->LowerReceiveTrigger(nBaud == kLoaderBaud);
    if (m_pPort->Open(m_strPort.c_str(), nBaud, pszMode))
        return true;
    m_outcome.m_openError = m_pPort->GetOpenError();
    return Fail(ETransferFault::OpenFailed);
}

// One reply byte 0..255, or kReplyFailed after a Cancel or when the port has died. In the
// synchronisation another 0x00 goes out before every further poll; the write's own wire time then
// paces the loop. Elsewhere the loop sleeps on the port between polls.
int CTransferRun::WaitReply(bool bSync) {
    bool bDeadSeen = false;
    const int64_t nStartMs = m_nReplyLimitMs > 0 ? GetClock().GetMilliseconds() : 0;
    for (;;) {
        const int nByte = m_pPort->ReadByte();
        if (m_pProgress->CheckCancel()) {
            Fail(ETransferFault::Cancelled);
            return kReplyFailed;
        }
        if (nByte >= 0)
            return nByte;
        if (m_pPort->IsDead()) {
            // A reply that arrived just before the hang-up is still taken by one more poll.
            if (bDeadSeen) {
                Fail(ETransferFault::HungUp);
                return kReplyFailed;
            }
            bDeadSeen = true;
            continue;
        }
        if (m_nReplyLimitMs > 0 && GetClock().GetMilliseconds() - nStartMs >= m_nReplyLimitMs) {
            Fail(ETransferFault::NoReply);
            return kReplyFailed;
        }
        if (bSync) {
            if (!m_pPort->WriteByte(kSyncByte)) {
                FailWrite();
                return kReplyFailed;
            }
        } else {
            m_pPort->WaitForByte(kReplyPollMs);
        }
    }
}

bool CTransferRun::Exchange(int nSend, int nExpected) {
    if (!m_pPort->WriteByte(nSend))
        return FailWrite();
    return Expect(WaitReply(false), nExpected);
}

bool CTransferRun::Expect(int nReply, int nExpected) {
    if (nReply == nExpected)
        return true;
    if (nReply >= 0) {
        m_outcome.m_nExpected = nExpected;
        m_outcome.m_nReceived = nReply;
        return Fail(ETransferFault::WrongReply);
    }
    return false;
}

bool CTransferRun::UploadLoader(const CResource& loader) {
    Enter(ETransferStep::Sync);
    if (!m_pPort->WriteByte(kSyncByte))
        return FailWrite();
    if (!Expect(WaitReply(true), kSyncByte))
        return false;
    // The first byte after the synchronising answer is judged: a second 0x00 fails here.
    Enter(ETransferStep::BitRate);
    if (!Exchange(kBitRateByte, kAcceptByte))
        return false;

    Enter(ETransferStep::Length);
    const int nLength = static_cast<int>(loader.m_nSize);
    if (!Exchange((nLength >> 8) & 0xFF, nLength >> 8))
        return false;
    if (!Exchange(nLength & 0xFF, nLength & 0xFF))
        return false;

    GetClock().Sleep(kSettleMs);
    // Whatever the machine sent during the pause is noise: it must not be taken for an echo.
    while (m_pPort->ReadByte() >= 0) {
    }

    Enter(ETransferStep::Loader, std::to_string(nLength) + " bytes");
    m_pProgress->OnBytesDone(ETransferStep::Loader, 0, nLength);
    for (int i = 0; i < nLength; ++i) {
        m_outcome.m_nIndex = i;
        m_pProgress->SetPos(static_cast<int32_t>(kLoaderWeight * i));
        if (!Exchange(loader.m_pData[i], loader.m_pData[i]))
            return false;
        m_pProgress->OnBytesDone(ETransferStep::Loader, i + 1, nLength);
    }
    Enter(ETransferStep::LoaderEnd);
    return Expect(WaitReply(false), kAcceptByte);
}

bool CTransferRun::Advance(int64_t nCount) {
    if (m_nPos + nCount > kMaxPosition)
        return false;
    m_nPos += nCount;
    m_pProgress->SetPos(static_cast<int32_t>(m_nPos));
    return true;
}

// The package in pieces, each after a cancel check. The built-in package's last piece goes out
// without one, a Cancel pressed just before it not honoured; a chosen file's last piece is
// checked like the others. A machine that holds the line during any piece, the last included,
// can still be cancelled: the port asks while the write is held.
bool CTransferRun::SendPackage(const unsigned char* pPiece, bool bCancelLast) {
    int64_t nRemaining = m_nPackageSize;
    m_pProgress->OnBytesDone(ETransferStep::Package, 0, m_nPackageSize);
    while (nRemaining > 0) {
        const int nCount = static_cast<int>(nRemaining < kPieceSize ? nRemaining : kPieceSize);
        if (!Advance(nCount))
            return Fail(ETransferFault::BadPackage);
        if ((bCancelLast || nRemaining > kPieceSize) && m_pProgress->CheckCancel())
            return Fail(ETransferFault::Cancelled);
        if (!m_pPort->WriteBlock(pPiece, static_cast<uint32_t>(nCount)))
            return FailWrite();
        pPiece += nCount;
        nRemaining -= nCount;
        m_pProgress->OnBytesDone(ETransferStep::Package, m_nPackageSize - nRemaining,
                                 m_nPackageSize);
    }
    return true;
}

// The outcome in words, for a person reading the trace: "completed", or "failed: wrong reply in
// the step loader (byte 17): expected 3c, received 3d".
std::string DescribeOutcomeForTrace(int nResult, const CTransferOutcome& outcome) {
    static const char* const kFaults[] = {
        "no cause told", "open failed",
        "no loader",     "bad package",
        "wrong reply",   "no reply",
        "hung up",       "write failed",
        "cancelled",     "handed to a device server, delivery unknown"};
    static_assert(std::size(kFaults) == static_cast<size_t>(ETransferFault::Unconfirmed) + 1);
    if (nResult)
        return "completed";
    std::string strText = std::string("failed: ") + kFaults[static_cast<int>(outcome.m_eFault)] +
                          " in the step " + TraceName(outcome.m_eStep);
    if (outcome.m_eStep == ETransferStep::Loader)
        strText += " (byte " + std::to_string(outcome.m_nIndex) + ")";
    if (outcome.m_eFault == ETransferFault::WrongReply) {
        char szBytes[48];
        std::snprintf(szBytes, sizeof szBytes, ": expected %02x, received %02x",
                      outcome.m_nExpected, outcome.m_nReceived);
        strText += szBytes;
    }
    return strText;
}

} // namespace

int TransferFirmware(const std::string& strPort, const std::vector<uint8_t>* pPackage,
                     IOperator& op) {
    return TransferFirmwareWithOptions(strPort, pPackage, op, {});
}

int TransferFirmwareWithOptions(const std::string& strPort, const std::vector<uint8_t>* pPackage,
                                IOperator& op, const CTransferOptions& options) {
    auto pRun = std::make_unique<CTransferRun>(strPort, pPackage, op, options);
    const int nResult = pRun->Run();
    const CTransferOutcome outcome = pRun->GetOutcome();
    // The outcome follows the port's close in the trace: the run is gone first.
    pRun.reset();
    if (IWireTrace* pTrace = op.GetWireTrace())
        pTrace->TraceOutcome(DescribeOutcomeForTrace(nResult, outcome));
    if (options.m_pOutcome)
        *options.m_pOutcome = outcome;
    return nResult;
}
