#pragma once
// The main window as far as the logic sees it: what the controls showed at each refresh, how
// often it was repainted, and whether Back and Next are enabled.
#include <string>
#include <vector>

#include "frontend/WizardState.h"

class CRecordingWindow : public IWizardWindow {
public:
    explicit CRecordingWindow(const CWizardState& state) : m_state(state) {}

    struct CShown {
        std::string m_strStep, m_strStatus, m_strPort;
    };

    void RefreshControls() override {
        m_refreshes.push_back({m_state.m_strStep, m_state.m_strStatus, m_state.m_strPort});
    }
    void Repaint() override { ++m_nRepaints; }
    void EnableButton(int nControlId, bool bEnable) override {
        if (nControlId == kIdBack)
            m_bBackEnabled = bEnable;
        else if (nControlId == kIdNext)
            m_bNextEnabled = bEnable;
    }

    // The status line at every refresh.
    std::vector<std::string> ShownStatus() const {
        std::vector<std::string> status;
        for (const CShown& shown : m_refreshes)
            status.push_back(shown.m_strStatus);
        return status;
    }

    std::vector<CShown> m_refreshes;
    int m_nRepaints = 0;
    bool m_bBackEnabled = true;
    bool m_bNextEnabled = true;

private:
    const CWizardState& m_state;
};
