#pragma once
// Every text the step text box of either window shows, taken from the step table itself, so a
// step added there is checked too. Each id once, in the table's order. Needs the wizard library.
#include <algorithm>
#include <vector>

#include "wizard/StepMachine.h"

inline std::vector<unsigned> StepTextIds() {
    std::vector<unsigned> ids;
    for (int n = static_cast<int>(EStep::Start); n <= static_cast<int>(EStep::Finished); ++n) {
        const CStepInfo* pInfo = FindStepInfo(static_cast<EStep>(n));
        if (pInfo && std::find(ids.begin(), ids.end(), pInfo->m_nTextId) == ids.end())
            ids.push_back(pInfo->m_nTextId);
    }
    return ids;
}
