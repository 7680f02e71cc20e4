#pragma once
// The main window in Win32 (template 102): the step's text and picture, "<< Back" and "Next >>",
// the status line, the port and the package's header text, the right-button popups and "About"
// in the system menu. It owns the wizard state and the step machine. Presses and commands go
// through the controller both windows share: what talks to the machine runs on its worker, and
// what that asks of the window comes back to this thread as posted messages of the window's own
// loop, so the window paints and answers meanwhile and the input it gets is dropped. Its own
// IWizardWindow and IOperator run on this thread only.
#include <memory>
#include <string>

#include "frontend/ForwardingOperator.h"
#include "frontend/Operator.h"
#include "frontend/WizardController.h"
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

    // The window's run, on its own loop; the program ends when it returns.
    INT_PTR Run();

    // IWizardWindow
    void RefreshControls() override;
    void Repaint() override;
    void EnableButton(int nControlId, bool bEnable) override;

    // IOperator, on this thread
    int ShowMessage(const CMessage& message) override;
    void BeginWaitCursor() override;
    void EndWaitCursor() override;
    bool RunPortDialog(std::string& strPort) override;
    bool RunFileOpenDialog(const std::string& strFolder, const std::string& strFile,
                           std::string& strChosen) override;
    std::unique_ptr<IProgressSink> CreateProgress() override;
    IWireTrace* GetWireTrace() override { return m_trace.Get(); }
    bool IsCancelled() override { return m_controller.IsCancelled(); }

private:
    // IStepPicture
    void Free() override;
    int Load(int nId) override;

    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT nMsg, WPARAM wParam, LPARAM lParam);
    void OnInitDialog();
    void Layout(int nPictureWidth, int nPictureHeight);
    void Paint();
    void OnDoubleClickRight(WPARAM wParam, LPARAM lParam);
    void ShowPopup(unsigned nKeyState, POINT ptScreen);
    void ShowAbout();

    CWizardState m_state;
    std::shared_ptr<CWin32WindowThread> m_pThread = std::make_shared<CWin32WindowThread>();
    CWindowCalls m_calls{m_pThread};
    CForwardingWindow m_window{*this, m_calls};
    CForwardingOperator m_operator{*this, m_calls};
    CStepMachine m_steps;
    CServiceCommands m_commands;
    HWND m_hWnd = nullptr;
    HWND m_hKeys = nullptr; // a modeless dialog whose keys the loop routes: the progress dialog
    INT_PTR m_nResult = 0;
    bool m_bEnded = false;
    HICON m_hIcon = nullptr;
    HICON m_hSmallIcon = nullptr;
    CResource m_picture; // the step's .bmp as built in; empty: no picture
    POINT m_ptPictureCentre{};
    int m_nWaitCursor = 0;
    CWindowTrace m_trace;
    CWizardController m_controller;
};
