#pragma once
// The handful of values the main window holds for one run. The device check and the transfer
// read and write them too, so the record is plain and knows no window: the window, when there is
// one, plugs in behind IWizardWindow.
#include <string>

// The thirteen steps of the wizard; None is "no target" (Back disabled on the Start step).
enum class EStep {
    None,
    Start,
    Connect,
    VersionCheck,
    UnplugAdapter,
    UnplugJ9J10,
    PlugJ1J2,
    PlugAdapter,
    Upgrade,
    TransferDone,
    Retry,
    UnplugJ1J2,
    PlugJ9J10,
    Finished,
};

// Control ids of the main window that the logic names.
constexpr int kIdStepText = 1000;
constexpr int kIdBack = 1002;
constexpr int kIdNext = 1003;
constexpr int kIdStatus = 1004;
constexpr int kIdPortText = 1006;
constexpr int kIdPackageText = 1007;

class IWizardWindow {
public:
    virtual ~IWizardWindow() = default;
    // Copies step text, status text, port name and package text to their controls, all four.
    virtual void RefreshControls() = 0;
    // Invalidates the whole client area with erasing, so the step's picture is drawn anew.
    virtual void Repaint() = 0;
    virtual void EnableButton(int nControlId, bool bEnable) = 0;
};

struct CWizardState {
    std::string m_strStep;           // control 1000
    std::string m_strStatus;         // control 1004
    std::string m_strPort;           // control 1006, "COM1:" .. "COM4:" or empty
    std::string m_strPackage;        // control 1007, header text of the package, at most 22 chars
    std::string m_strPackagePath;    // chosen package file; empty means the built-in package
    std::string m_strPackageVersion; // "V" + text kIdsPackageVersion, set at window start
    int m_nScanner = 0;              // 1 after a check found an "NRP" model
    EStep m_eBack = EStep::None;
    EStep m_eNext = EStep::None;

    IWizardWindow* m_pWindow = nullptr; // no window: the operations change nothing but fields

    void RefreshControls() {
        if (m_pWindow)
            m_pWindow->RefreshControls();
    }
    void Repaint() {
        if (m_pWindow)
            m_pWindow->Repaint();
    }
    void EnableButton(int nControlId, bool bEnable) {
        if (m_pWindow)
            m_pWindow->EnableButton(nControlId, bEnable);
    }
};
