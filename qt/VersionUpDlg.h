#pragma once
// The main window: the current step's text and picture, "<< Back" and "Next >>", the status
// line, and a top line with the port and the package's header text. It owns the wizard state,
// the step picture and the step machine, and is the operator the logic talks to.
//
// A press or command that talks to the machine (the check, the transfer) runs on a worker
// thread, one at a time, while this thread goes on with its ordinary event loop. The logic's
// calls on the window, the picture and the operator come back to this thread and wait for it;
// input to the window meanwhile comes to nothing.
#include <QDialog>
#include <QIcon>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "frontend/Operator.h"
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
    bool IsBusy() const { return m_nBusy > 0; }
    void ShowAbout();
    // The About box belongs to the application, which hands it in: it opens it over pParent and
    // shows strUpgradeFor, the line that names the package in use.
    using FnShowAbout = std::function<void(QWidget* pParent, const std::string& strUpgradeFor)>;
    void SetAboutAction(FnShowAbout fnShowAbout) { m_fnShowAbout = std::move(fnShowAbout); }

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
    // Runs fnPress here, or on the worker when entering eTarget talks to the machine.
    void RunPress(EStep eTarget, std::function<void()> fnPress);
    void RunOnWorker(std::function<void()> fnRun);
    void EndRun();
    int ShowMessageHere(const CMessage& message);
    bool RunFileOpenDialogHere(const std::string& strFolder, const std::string& strFile,
                               std::string& strChosen);

    // While a step or command runs, nothing may start another or end the window.
    class CBusy;

    CWizardState m_state;
    CStepMachine m_steps;
    CServiceCommands m_commands;
    std::unique_ptr<CDib> m_pDib;
    QIcon m_icon;
    QPoint m_ptPictureCentre;
    FnShowAbout m_fnShowAbout;
    CWindowTrace m_trace;
    bool m_bStarted = false;
    int m_nBusy = 0;
    int m_nWaitCursor = 0;
    CWindowCalls m_calls{this};
    std::thread m_worker;

    QPushButton* m_pNext = nullptr;
    QPushButton* m_pBack = nullptr;
    QFrame* m_pFrame = nullptr;
    QPlainTextEdit* m_pText = nullptr;
    QLabel* m_pStatus = nullptr;
    QLabel* m_pPort = nullptr;
    QLabel* m_pPackage = nullptr;
    QFrame* m_pLine = nullptr;
};
