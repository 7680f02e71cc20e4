#pragma once
// The program's own machine link, with its device check counted and marked while it runs, so a
// window test can tell whether input during a check started another one.
#include "wizard/VersionUpDlg.h"

struct CCheckCount {
    int m_nChecks = 0;
    bool m_bInCheck = false;
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
