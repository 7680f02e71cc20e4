#include "device/DeviceCheck.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device/OpenFailure.h"
#include "device/PortList.h"
#include "device/Reply.h"
#include "device/VerdictText.h"
#include "frontend/Operator.h"
#include "frontend/WizardState.h"
#include "platform/Clock.h"
#include "ports/PortMap.h"
#include "resources/StringIds.h"
#include "resources/Strings.h"
#include "serial/SerialPort.h"
#include "serial/WireTrace.h"

namespace {

constexpr const char* kQuery = "F;";
constexpr uint32_t kQueryBaud = 9600;
constexpr const char* kQueryMode = "N81H";

// Seconds of silence after which a reply is taken as complete (gap counted from the last byte),
// and the wait for the first byte of a probe during discovery.
constexpr int kReplyGapSeconds = 3;
constexpr int kProbeSeconds = 1;
constexpr int kProbeSettleMs = 500;
constexpr int kReplyMax = 255;
constexpr int kProbeMax = 32;

// Between two empty polls the loop waits on the link for a few milliseconds: a byte that arrives
// ends the wait at once, so nothing is slower than polling flat out, but a silent machine no
// longer costs a whole core. The time-outs are still judged by the reply timer alone.
constexpr int kPollWaitMs = 4;
// The pause before a probe's reply is taken is slept in slices of this length. Both windows run
// the check on a worker thread of their own, so no window waits on a slice to draw itself.
constexpr int kSettleSliceMs = 10;
// A device server that does not answer must cost a search no more than a silent port does.
constexpr int kProbeNetworkOpenMs = 1000;

using FnStop = std::function<bool()>;

bool IsStopped(const FnStop& fnStop) {
    return fnStop && fnStop();
}

void AwaitByte(CSerialPort& port, IOperator&) {
    // A port whose device went away answers the wait at once; sleep instead of spinning.
    if (port.WaitForByte(kPollWaitMs) == 0 && port.IsDead())
        GetClock().Sleep(kPollWaitMs);
}

// The query's writes give up after the time-out settings' limit for two bytes (1,004 ms): a
// machine that is off or a loose cable holds DSR or CTS low for good, and the operator should
// hear of it after seconds, not after the transfer's no-progress limit on every port.
std::unique_ptr<CSerialPort> MakeQueryPort(IOperator& op, bool bProbe = false) {
    auto pPort = std::make_unique<CSerialPort>();
    pPort->LimitWritesToTimeouts(true);
    pPort->SetTrace(op.GetWireTrace());
    if (bProbe)
        pPort->LimitNetworkOpen(kProbeNetworkOpenMs);
    return pPort;
}

void TraceStep(IOperator& op, const char* pszName, const std::string& strDetail = {}) {
    if (IWireTrace* pTrace = op.GetWireTrace())
        pTrace->TraceStep(pszName, strDetail);
}

void TraceOutcome(IOperator& op, const std::string& strText) {
    if (IWireTrace* pTrace = op.GetWireTrace())
        pTrace->TraceOutcome(strText);
}

CMessage OkMessage(unsigned nId, std::string strDetail = {}) {
    return {nId, LoadString(nId), std::move(strDetail), EButtons::Ok};
}

// The box for a verdict, worded as every front end words it.
CMessage VerdictMessage(ECheckVerdict eVerdict, std::string strDetail = {}) {
    return OkMessage(GetVerdictText(eVerdict).m_nIdsSentence, std::move(strDetail));
}

CMessage WrongPortMessage(const std::string& strPort, const CSerialPort& port) {
    return VerdictMessage(ECheckVerdict::PortFailed,
                          DescribeOpenFailure(strPort, port.GetOpenError(), GetUserLanguage()));
}

std::string Collect(const char* pBytes, int nCount) {
    return std::string(CutAtZero(std::string_view(pBytes, static_cast<size_t>(nCount))));
}

// One query on an open port: write, collect the reply, close. The reply is the bytes before the
// first ';', at most 255 of them, or what came before a gap of more than three seconds, or what
// came before fnStop said so.
std::string RunQueryCycle(CSerialPort& port, IOperator& op, const FnStop& fnStop) {
    port.WriteString(kQuery);
    CReplyTimer timer;
    char reply[kReplyMax];
    int nStored = 0;
    for (;;) {
        int nByte = port.ReadByte();
        if (nByte == ';')
            break;
        if (nByte >= 0) {
            reply[nStored++] = static_cast<char>(nByte);
            if (nStored == kReplyMax)
                break;
            timer.Restart();
            continue;
        }
        if (timer.HasElapsed(kReplyGapSeconds) || IsStopped(fnStop))
            break;
        AwaitByte(port, op);
    }
    port.Close();
    return Collect(reply, nStored);
}

// One discovery probe on an open port; true when a model of the table answered. Closes the port.
// fnStop ends it early, as a port that did not answer.
bool ProbeOpenPort(CSerialPort& port, IOperator& op, const FnStop& fnStop) {
    port.WriteString(kQuery);
    CReplyTimer timer;
    for (;;) {
        // The byte that ends the wait is dropped: the text below starts after it.
        if (port.ReadByte() >= 0)
            break;
        if (timer.HasElapsed(kProbeSeconds) || IsStopped(fnStop)) {
            port.Close();
            return false;
        }
        AwaitByte(port, op);
    }
    for (int nSlept = 0; nSlept < kProbeSettleMs; nSlept += kSettleSliceMs) {
        if (IsStopped(fnStop)) {
            port.Close();
            return false;
        }
        GetClock().Sleep(std::min(kSettleSliceMs, kProbeSettleMs - nSlept));
    }
    char text[kProbeMax];
    int nTaken = port.ReadBytes(text, kProbeMax);
    port.Close();
    std::string strCandidate;
    return FindModelCandidate(Collect(text, nTaken), strCandidate) && FindModel(strCandidate) >= 0;
}

} // namespace

namespace {

enum class EDiscovery { Found, Chosen, NothingFound, Cancelled, FolderUnreadable };

// One probe from the open on; false when the port is the console, does not open or gave no model.
bool Probe(const std::string& strName, CSerialPort& port, IOperator& op, const FnStop& fnStop) {
    // A PC whose COM1 carries the kernel's console would get "F;" among its messages.
    if (IsSystemConsolePort(strName))
        return false;
    if (!port.Open(strName.c_str(), kQueryBaud, kQueryMode))
        return false;
    return ProbeOpenPort(port, op, fnStop);
}

enum class EProbes { Found, NotFound, Cancelled };

// Probes every port of names at once, each on a thread and a port object of its own, and gives
// the index of the lowest that answered with a model of the table: the answer a probe in turn
// would have found. A port above one that answered is not waited for; fnCancelled is asked on
// this thread only, so that it need not be safe to call from another.
EProbes ProbeAtOnce(const std::vector<std::string>& names, IOperator& op, const FnStop& fnCancelled,
                    size_t& nFound) {
    enum EResult { kPending, kNo, kYes };
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<EResult> results(names.size(), kPending);
    std::atomic<bool> bCancelled{false};
    // The lowest index that answered so far: the probes above it may stop.
    std::atomic<size_t> nLowestYes{names.size()};
    std::vector<std::thread> threads;
    threads.reserve(names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        threads.emplace_back([&, i] {
            auto pPort = MakeQueryPort(op, true);
            const bool bYes = Probe(names[i], *pPort, op,
                                    [&] { return bCancelled.load() || nLowestYes.load() < i; });
            pPort.reset();
            std::lock_guard lock(mutex);
            results[i] = bYes ? kYes : kNo;
            // Written under the lock only; atomic so that the probes may read it without.
            if (bYes && i < nLowestYes.load())
                nLowestYes = i;
            changed.notify_all();
        });
    }
    // Settled once every port below the lowest answer has said no (or every port has).
    auto settled = [&] {
        for (EResult eResult : results) {
            if (eResult == kPending)
                return false;
            if (eResult == kYes)
                return true;
        }
        return true;
    };
    {
        std::unique_lock lock(mutex);
        while (!settled()) {
            if (IsStopped(fnCancelled)) {
                bCancelled = true;
                break;
            }
            // Only how often the cancel is asked; the probes keep their own time.
            changed.wait_for(lock, std::chrono::milliseconds(kPollWaitMs * 5));
        }
    }
    for (std::thread& thread : threads)
        thread.join();
    if (bCancelled)
        return EProbes::Cancelled;
    nFound = nLowestYes.load();
    return nFound < names.size() ? EProbes::Found : EProbes::NotFound;
}

EDiscovery Discover(CWizardState& state, IOperator& op, const FnStop& fnCancelled,
                    CCheckOutcome& outcome) {
    const CPortList list = ListPorts();
    if (list.m_folderError) {
        state.m_strPort.clear();
        outcome.m_strFolder = list.m_strFolder;
        outcome.m_folderError = list.m_folderError;
        return EDiscovery::FolderUnreadable;
    }
    outcome.m_nSearchedUpTo = ParseComNumber(list.m_ports.back().m_strName);
    op.BeginWaitCursor();
    TraceStep(op, "discovery");
    auto cancelled = [&] {
        state.m_strPort.clear();
        op.EndWaitCursor();
        return EDiscovery::Cancelled;
    };
    auto found = [&] {
        op.EndWaitCursor();
        return EDiscovery::Found;
    };
    // The first four in turn, with their old timing: a PC's own ports.
    std::vector<std::string> above;
    for (const CListedPort& port : list.m_ports) {
        if (!port.IsProbed())
            continue;
        if (ParseComNumber(port.m_strName) > kFixedPortCount) {
            above.push_back(port.m_strName);
            continue;
        }
        if (IsStopped(fnCancelled))
            return cancelled();
        // The window is not refreshed: the name shows only once the check refreshes it.
        state.m_strPort = port.m_strName;
        auto pPort = MakeQueryPort(op, true);
        if (Probe(state.m_strPort, *pPort, op, fnCancelled))
            return found();
        if (IsStopped(fnCancelled))
            return cancelled();
    }
    if (!above.empty()) {
        state.m_strPort = above.back();
        size_t nFound = 0;
        switch (ProbeAtOnce(above, op, fnCancelled, nFound)) {
        case EProbes::Found:
            state.m_strPort = above[nFound];
            return found();
        case EProbes::Cancelled:
            return cancelled();
        case EProbes::NotFound:
            break;
        }
    }
    std::string strChosen;
    bool bChosen = op.RunPortDialog(strChosen);
    state.m_strPort = bChosen ? strChosen : std::string();
    op.EndWaitCursor();
    return bChosen ? EDiscovery::Chosen : EDiscovery::NothingFound;
}

} // namespace

bool AskVersion(const std::string& strPort, IOperator& op, std::string& strReply,
                CPortError& error) {
    auto pPort = MakeQueryPort(op);
    if (!pPort->Open(strPort.c_str(), kQueryBaud, kQueryMode)) {
        error = pPort->GetOpenError();
        return false;
    }
    strReply = RunQueryCycle(*pPort, op, {});
    return true;
}

bool DiscoverPort(CWizardState& state, IOperator& op) {
    CCheckOutcome outcome;
    const EDiscovery eFound = Discover(state, op, {}, outcome);
    return eFound == EDiscovery::Found || eFound == EDiscovery::Chosen;
}

bool CheckFirmwareVersion(CWizardState& state, IOperator& op, const char* pszPackageVersion) {
    return RunDeviceCheck(state, op, pszPackageVersion, [&op] {
               return op.IsCancelled();
           }).m_eVerdict == ECheckVerdict::UpgradeNeeded;
}

CCheckOutcome RunDeviceCheck(CWizardState& state, IOperator& op, const char* pszPackageVersion,
                             const std::function<bool()>& fnCancelled) {
    CCheckOutcome outcome;
    const std::string_view packageVersion = pszPackageVersion ? pszPackageVersion : "";
    state.m_strStep = LoadString(kIdsCheckingVersion);
    state.RefreshControls();

    if (state.m_strPort.empty()) {
        const EDiscovery eFound = Discover(state, op, fnCancelled, outcome);
        if (eFound == EDiscovery::Cancelled) {
            outcome.m_eVerdict = ECheckVerdict::Cancelled;
            return outcome;
        }
        if (eFound == EDiscovery::FolderUnreadable) {
            const CMessage message = VerdictMessage(
                ECheckVerdict::PortFailed,
                DescribeUnreadableFolder(outcome.m_strFolder, outcome.m_folderError.value(),
                                         GetUserLanguage()));
            TraceOutcome(op, message.m_strText + " " + message.m_strDetail);
            op.ShowMessage(message);
            outcome.m_eVerdict = ECheckVerdict::PortFailed;
            return outcome;
        }
        if (eFound == EDiscovery::NothingFound) {
            const CMessage message = VerdictMessage(ECheckVerdict::NothingFound);
            TraceOutcome(op, message.m_strText + " (no machine found)");
            op.ShowMessage(message);
            outcome.m_eVerdict = ECheckVerdict::NothingFound;
            return outcome;
        }
    }
    outcome.m_strPort = state.m_strPort;

    auto pPort = MakeQueryPort(op);
    op.BeginWaitCursor();
    // The box is shown while the cursor is still up; it goes down once the box is closed.
    auto fail = [&](ECheckVerdict eVerdict, const CMessage& message) {
        outcome.m_eVerdict = eVerdict;
        TraceOutcome(op, message.m_strText +
                             (message.m_strDetail.empty() ? "" : " " + message.m_strDetail));
        op.ShowMessage(message);
        op.EndWaitCursor();
        pPort.reset();
        return outcome;
    };
    auto cancelled = [&] {
        if (!IsStopped(fnCancelled))
            return false;
        outcome.m_eVerdict = ECheckVerdict::Cancelled;
        state.m_strPort.clear();
        pPort.reset();
        return true;
    };
    auto open = [&] {
        if (pPort->Open(state.m_strPort.c_str(), kQueryBaud, kQueryMode))
            return true;
        outcome.m_portError = pPort->GetOpenError();
        return false;
    };

    if (cancelled()) {
        op.EndWaitCursor();
        return outcome;
    }
    if (!open())
        return fail(ECheckVerdict::PortFailed, WrongPortMessage(state.m_strPort, *pPort));

    CReplySplit split;
    for (;;) {
        TraceStep(op, "version query");
        state.m_strStatus = RunQueryCycle(*pPort, op, fnCancelled);
        if (cancelled()) {
            op.EndWaitCursor();
            TraceOutcome(op, "cancelled");
            return outcome;
        }
        state.RefreshControls();
        outcome.m_strReply = state.m_strStatus;
        split = SplitReply(state.m_strStatus);
        if (split.m_bUsable)
            break;
        outcome.m_eVerdict =
            state.m_strStatus.empty() ? ECheckVerdict::NoReply : ECheckVerdict::UnusableReply;
        op.EndWaitCursor();
        CMessage question = VerdictMessage(outcome.m_eVerdict);
        question.m_eButtons = EButtons::RetryCancel;
        if (op.ShowMessage(question) != kIdRetry || cancelled()) {
            TraceOutcome(op, question.m_strText + " (cancelled)");
            pPort.reset();
            return outcome;
        }
        op.BeginWaitCursor();
        if (!open())
            return fail(ECheckVerdict::PortFailed, WrongPortMessage(state.m_strPort, *pPort));
    }
    outcome.m_strModel = split.m_strModel;
    outcome.m_strVersion = split.m_strVersion;

    if (FindModel(split.m_strModel) < 0)
        return fail(ECheckVerdict::WrongModel, VerdictMessage(ECheckVerdict::WrongModel));
    // Set before the comparison: the pictures follow the machine even when no upgrade is needed.
    state.m_nScanner = ScannerFlagOf(split.m_strModel);
    if (!IsVersionGreater(packageVersion, split.m_strVersion))
        return fail(ECheckVerdict::Unnecessary, VerdictMessage(ECheckVerdict::Unnecessary));

    TraceOutcome(op, "upgrade needed: " + state.m_strStatus);
    op.EndWaitCursor();
    pPort.reset();
    outcome.m_eVerdict = ECheckVerdict::UpgradeNeeded;
    return outcome;
}
