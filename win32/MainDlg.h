#pragma once
// The main window in Win32 (template 102): the step's text and picture, "<< Back" and "Next >>",
// the status line, the port and the package's header text, the right-button popups and "About"
// in the system menu. It owns the wizard state and the step machine and is the operator the
// logic talks to. Back, Next and the service commands run on a worker thread; what they ask of
// the window comes back to the window's thread (CWindowThread), so the window paints and
// answers meanwhile and the input it gets is dropped.
#include <string>
#include <thread>

#include "frontend/Operator.h"
#include "frontend/WizardState.h"
#include "resources/Resources.h"
#include "serial/WireTrace.h"
#include "win32/WindowThread.h"
#include "wizard/ServiceCommands.h"
#include "wizard/StepMachine.h"

class CMainDlg : public IWizardWindow, public IOperator, private IStepPicture {
public:
    explicit CMainDlg(CMachineLink link = GetMachineLink());
    ~CMainDlg() override;

    // The modal run; the program ends when it returns.
    INT_PTR Run();

    // IWizardWindow
    void RefreshControls() override;
    void Repaint() override;
    void EnableButton(int nControlId, bool bEnable) override;

    // IOperator
    int ShowMessage(const CMessage& message) override;
    void BeginWaitCursor() override;
    void EndWaitCursor() override;
    bool RunPortDialog(std::string& strPort) override;
    bool RunFileOpenDialog(const std::string& strFolder, const std::string& strFile,
                           std::string& strChosen) override;
    std::unique_ptr<IProgressSink> CreateProgress() override;
    IWireTrace* GetWireTrace() override { return m_trace.Get(); }

private:
    // IStepPicture
    void Free() override;
    int Load(int nId) override;

    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT nMsg, WPARAM wParam, LPARAM lParam);
    void OnInitDialog();
    void Layout(int nPictureWidth, int nPictureHeight);
    void Paint();
    // Runs fn on the worker unless something runs already, in which case the press is dropped.
    void StartWork(std::function<void()> fn);
    void ShowPopup(unsigned nKeyState, POINT ptScreen);
    void ShowAbout();

    CWizardState m_state;
    CStepMachine m_steps;
    CServiceCommands m_commands;
    CWindowThread m_thread;
    HWND m_hWnd = nullptr;
    HICON m_hIcon = nullptr;
    HICON m_hSmallIcon = nullptr;
    CResource m_picture; // the step's .bmp as built in; empty: no picture
    POINT m_ptPictureCentre{};
    std::thread m_worker;
    bool m_bBusy = false;
    int m_nWaitCursor = 0;
    CWindowTrace m_trace;
};
