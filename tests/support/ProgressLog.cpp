#include "tests/support/ProgressLog.h"

void CTransferLog::Add(CEvent event) {
    std::lock_guard lock(m_mutex);
    m_events.push_back(std::move(event));
}

std::vector<CEvent> CTransferLog::GetEvents() const {
    std::lock_guard lock(m_mutex);
    return m_events;
}

std::vector<CEvent> CTransferLog::Of(CEvent::EKind eKind) const {
    std::vector<CEvent> result;
    for (const CEvent& event : GetEvents())
        if (event.m_eKind == eKind)
            result.push_back(event);
    return result;
}

std::vector<int64_t> CTransferLog::Positions() const {
    std::vector<int64_t> result;
    for (const CEvent& event : Of(CEvent::Pos))
        result.push_back(event.m_nA);
    return result;
}

int64_t CTransferLog::LastPos() const {
    std::lock_guard lock(m_mutex);
    for (auto it = m_events.rbegin(); it != m_events.rend(); ++it)
        if (it->m_eKind == CEvent::Pos)
            return it->m_nA;
    return -1;
}

CRecordingSink::CRecordingSink(CTransferLog& log, std::atomic<int>& nAlive, CancelRule& rule,
                               std::atomic<bool>& bPending, std::function<void(int32_t)>& fnOnPos)
    : m_log(log), m_nAlive(nAlive), m_rule(rule), m_bPending(bPending), m_fnOnPos(fnOnPos) {
    ++m_nAlive;
}

CRecordingSink::~CRecordingSink() {
    m_log.Add({CEvent::Destroy});
    --m_nAlive;
}

int CRecordingSink::Create() {
    m_log.Add({CEvent::Create});
    return 1;
}

void CRecordingSink::SetMessage(const std::string& strText) {
    m_log.Add({CEvent::Message, 0, 0, strText});
}

void CRecordingSink::SetRange(int32_t nLower, int32_t nUpper) {
    m_log.Add({CEvent::Range, nLower, nUpper});
}

int CRecordingSink::SetPos(int32_t nPos) {
    m_log.Add({CEvent::Pos, nPos});
    if (m_fnOnPos)
        m_fnOnPos(nPos);
    return 0;
}

int CRecordingSink::CheckCancel() {
    m_log.Add({CEvent::Check});
    if (m_rule && m_rule())
        m_bPending = true;
    return m_bPending.exchange(false) ? 1 : 0;
}

void CRecordingSink::OnStepEntered(ETransferStep eStep) {
    m_log.Add({CEvent::Step, static_cast<int64_t>(eStep)});
}

void CRecordingSink::OnBytesDone(ETransferStep eStep, int64_t nDone, int64_t nTotal) {
    m_log.Add(
        {CEvent::Bytes, nDone, nTotal, eStep == ETransferStep::Loader ? "loader" : "package"});
}
