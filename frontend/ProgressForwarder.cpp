#include "frontend/ProgressForwarder.h"

CProgressForwarder::CProgressForwarder(CWindowCalls calls, const FnMakeDialog& fnMakeDialog,
                                       FnAbandon fnAbandon)
    : m_calls(std::move(calls)), m_fnAbandon(std::move(fnAbandon)) {
    m_calls.Call([&] { m_pDlg = fnMakeDialog(); });
}

CProgressForwarder::~CProgressForwarder() {
    // Queued behind the last drawing, so the window shows the final position before it goes.
    if (m_calls.Call([this] { m_pDlg.reset(); }) || !m_pDlg)
        return;
    // The window's thread has shut its calls and will not run this.
    if (m_fnAbandon)
        m_fnAbandon(std::move(m_pDlg));
    else
        static_cast<void>(m_pDlg.release());
}

int CProgressForwarder::Create() {
    int nResult = 0;
    m_calls.Call([&] {
        if (m_pDlg)
            nResult = m_pDlg->Create();
        // What was given before the dialog existed.
        Draw();
    });
    return nResult;
}

void CProgressForwarder::SetMessage(const std::string& strText) {
    bool bPost = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_strMessage = strText;
        m_bMessage = true;
        bPost = TakeDrawTurn();
    }
    if (bPost)
        PostDraw();
}

void CProgressForwarder::SetRange(int32_t nLower, int32_t nUpper) {
    bool bPost = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_model.SetRange(nLower, nUpper);
        m_bRange = true;
        bPost = TakeDrawTurn();
    }
    if (bPost)
        PostDraw();
}

int CProgressForwarder::SetPos(int32_t nPos) {
    bool bPost = false;
    int32_t nPrevious = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        bool bChanged = false;
        nPrevious = m_model.SetPos(nPos, bChanged);
        // The dialog is given the position as the transfer gave it and works out its look from
        // it; a position that would look the same needs no drawing of its own.
        m_nLatestPos = nPos;
        if (bChanged) {
            m_bPos = true;
            bPost = TakeDrawTurn();
        }
    }
    if (bPost)
        PostDraw();
    return nPrevious;
}

int CProgressForwarder::CheckCancel() {
    if (m_calls.IsShut())
        return 1;
    // The dialog is made once, by Create, before the transfer first checks.
    IProgressSink* pDlg = m_pDlg.get();
    return pDlg ? pDlg->CheckCancel() : 0;
}

int CProgressForwarder::GetDrawsQueued() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nDrawsQueued;
}

bool CProgressForwarder::TakeDrawTurn() {
    if (m_bDrawQueued)
        return false;
    m_bDrawQueued = true;
    ++m_nDrawsQueued;
    return true;
}

void CProgressForwarder::PostDraw() {
    // Without the mutex: on the window's own thread the drawing runs at once and takes it.
    m_calls.Post([this] { Draw(); });
}

void CProgressForwarder::Draw() {
    if (!m_pDlg) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bDrawQueued = false;
        return;
    }
    std::string strMessage;
    bool bMessage, bRange, bPos;
    int32_t nLower, nUpper, nPos;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bDrawQueued = false;
        bMessage = m_bMessage;
        bRange = m_bRange;
        bPos = m_bPos;
        strMessage = m_strMessage;
        nLower = m_model.GetLower();
        nUpper = m_model.GetUpper();
        nPos = m_nLatestPos;
        m_bMessage = m_bRange = m_bPos = false;
    }
    if (bMessage)
        m_pDlg->SetMessage(strMessage);
    if (bRange)
        m_pDlg->SetRange(nLower, nUpper);
    if (bPos)
        m_pDlg->SetPos(nPos);
}
