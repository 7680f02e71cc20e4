#pragma once
// The main window: the current step's text and picture, "<< Back" and "Next >>", the status
// line, and a top line with the port and the package's header text. It owns the wizard state,
// the step picture and the step machine, and is the operator the logic talks to.
//
// Presses and commands go through the controller that both windows share: what talks to the
// machine (the check, the transfer) runs on its worker while this thread goes on with its
// ordinary event loop. The logic's calls on the window, the picture and the operator come back
// to this thread as queued events and wait for them; input to the window meanwhile comes to
// nothing. Its own IWizardWindow and IOperator run on this thread only.
#include <QDialog>
#include <QIcon>
#include <functional>
#include <memory>
#include <string>

#include "frontend/ForwardingOperator.h"
#include "frontend/Operator.h"
#include "frontend/WizardController.h"
#include "frontend/WizardState.h"
#include "qt/WindowCalls.h"
#include "serial/WireTrace.h"
#include "wizard/ServiceCommands.h"
#include "wizard/StepMachine.h"

class CDib;
class QFrame;
class QLabel;
class QPlainTextEdit;
class QPushButton;

constexpr int kIdPictureFrame = 1001;

class CVersionUpDlg : public QDialog, public IWizardWindow, public IOperator, private IStepPicture {
    Q_OBJECT
public:
    explicit CVersionUpDlg(QWidget* pParent = nullptr, CMachineLink link = GetMachineLink());
    ~CVersionUpDlg() override;

    CWizardState& GetState() { return m_state; }
    CStepMachine& GetSteps() { return m_steps; }
    // A control by its template id (1000 .. 1007), for tests and screenshots.
    QWidget* GetControl(int nId) const;
    QPoint GetPictureCentre() const { return m_ptPictureCentre; }
    const CDib* GetPicture() const { return m_pDib.get(); }

    // Grows the window and the picture frame to hold a picture of that size; the controls below
    // the frame move down with it.
    void Layout(int nPictureWidth, int nPictureHeight);

    // The popup a right-button double-click with these keys and buttons would open.
    EPopup GetPopupFor(unsigned nKeyState) const { return ChoosePopup(m_state, nKeyState); }
    // Runs a popup command (a service command or About) as if chosen from the popup. Send
    // Firmware returns at once and goes on on the worker.
    void RunCommand(unsigned nId);
    // While a step or command runs; a run on the worker ends in a later event.
    bool IsBusy() const { return m_controller.IsBusy(); }
    void ShowAbout();
    // The About box belongs to the application, which hands it in: it opens it over pParent and
    // shows strUpgradeFor, the line that names the package in use.
    using FnShowAbout = std::function<void(QWidget* pParent, const std::string& strUpgradeFor)>;
    void SetAboutAction(FnShowAbout fnShowAbout) { m_fnShowAbout = std::move(fnShowAbout); }

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

    void setVisible(bool bVisible) override;

public slots:
    void reject() override;

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    void mouseDoubleClickEvent(QMouseEvent* pEvent) override;
    void closeEvent(QCloseEvent* pEvent) override;

private:
    // IStepPicture
    void Free() override;
    int Load(int nId) override;

    bool OnInitDialog();
    void OnBack();
    void OnNext();
    void ShowPopup(EPopup ePopup, const QPoint& ptGlobal);
    CWizardState m_state;
    CQtWindowCalls m_calls{this};
    CForwardingWindow m_window{*this, m_calls};
    CForwardingOperator m_operator;
    CStepMachine m_steps;
    CServiceCommands m_commands;
    std::unique_ptr<CDib> m_pDib;
    QIcon m_icon;
    QPoint m_ptPictureCentre;
    FnShowAbout m_fnShowAbout;
    CWindowTrace m_trace;
    bool m_bStarted = false;
    int m_nWaitCursor = 0;
    CWizardController m_controller{m_calls};

    QPushButton* m_pNext = nullptr;
    QPushButton* m_pBack = nullptr;
    QFrame* m_pFrame = nullptr;
    QPlainTextEdit* m_pText = nullptr;
    QLabel* m_pStatus = nullptr;
    QLabel* m_pPort = nullptr;
    QLabel* m_pPackage = nullptr;
    QFrame* m_pLine = nullptr;
};
