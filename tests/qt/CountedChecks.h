#pragma once
// The program's own machine link, with its device check counted and marked while it runs, so a
// window test can tell whether input during a check started another one. The check runs on the
// window's worker and the test reads the marks on the window's thread.
#include <atomic>

#include "qt/VersionUpDlg.h"

struct CCheckCount {
    std::atomic<int> m_nChecks{0};
    std::atomic<bool> m_bInCheck{false};
};

inline CMachineLink CountedChecks(CCheckCount& count) {
    CMachineLink link = GetMachineLink();
    link.m_fnCheckFirmwareVersion = [&count, fnCheck = link.m_fnCheckFirmwareVersion](
                                        CWizardState& state, IOperator& op, const char* psz) {
        ++count.m_nChecks;
        count.m_bInCheck = true;
        const bool bResult = fnCheck(state, op, psz);
        count.m_bInCheck = false;
        return bResult;
    };
    return link;
}
