#pragma once
// The transfer as its operator, its progress dialog and its clock saw it: every call in order,
// with an operator whose Cancel a test decides at each CheckCancel.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/QuietOperator.h"

// One call the transfer made on its operator, its dialog or the clock, in order.
struct CEvent {
    enum EKind {
        Create,
        Message,
        Range,
        Pos,
        Check,
        Destroy,
        CursorBegin,
        CursorEnd,
        Sleep,
        Step,  // m_nA: the ETransferStep entered
        Bytes, // m_nA of m_nB bytes done, m_strText "loader" or "package"
    };
    CEvent(EKind eKind, int64_t nA = 0, int64_t nB = 0, std::string strText = {})
        : m_eKind(eKind), m_nA(nA), m_nB(nB), m_strText(std::move(strText)) {}
    EKind m_eKind;
    int64_t m_nA = 0;
    int64_t m_nB = 0;
    std::string m_strText;
};

class CTransferLog {
public:
    void Add(CEvent event);
    std::vector<CEvent> GetEvents() const;
    std::vector<CEvent> Of(CEvent::EKind eKind) const;
    std::vector<int64_t> Positions() const;
    int64_t LastPos() const;

private:
    mutable std::mutex m_mutex;
    std::vector<CEvent> m_events;
};

// Decides at each CheckCancel whether the operator has pressed Cancel.
using CancelRule = std::function<bool()>;

class CRecordingSink : public IProgressSink {
public:
    CRecordingSink(CTransferLog& log, std::atomic<int>& nAlive, CancelRule& rule,
                   std::atomic<bool>& bPending, std::function<void(int32_t)>& fnOnPos);
    ~CRecordingSink() override;
    int Create() override;
    void SetMessage(const std::string& strText) override;
    void SetRange(int32_t nLower, int32_t nUpper) override;
    int SetPos(int32_t nPos) override;
    int CheckCancel() override;
    void OnStepEntered(ETransferStep eStep) override;
    void OnBytesDone(ETransferStep eStep, int64_t nDone, int64_t nTotal) override;

private:
    CTransferLog& m_log;
    std::atomic<int>& m_nAlive;
    CancelRule& m_rule;
    std::atomic<bool>& m_bPending;
    std::function<void(int32_t)>& m_fnOnPos;
};

class CRecordingOperator : public CQuietOperator {
public:
    explicit CRecordingOperator(CTransferLog& log) : m_log(log) {}
    int ShowMessage(const CMessage&) override {
        ++m_nMessages;
        return kIdOk;
    }
    void BeginWaitCursor() override { m_log.Add({CEvent::CursorBegin}); }
    void EndWaitCursor() override { m_log.Add({CEvent::CursorEnd}); }
    std::unique_ptr<IProgressSink> CreateProgress() override {
        ++m_nDialogs;
        return std::make_unique<CRecordingSink>(m_log, m_nAlive, m_cancelRule, m_bPendingCancel,
                                                m_fnOnPos);
    }

    CancelRule m_cancelRule;                   // evaluated at each CheckCancel
    std::atomic<bool> m_bPendingCancel{false}; // a Cancel pressed, not yet seen
    std::function<void(int32_t)> m_fnOnPos;    // called at each SetPos
    std::atomic<int> m_nAlive{0};              // dialogs that exist now
    int m_nDialogs = 0;
    int m_nMessages = 0;

private:
    CTransferLog& m_log;
};
