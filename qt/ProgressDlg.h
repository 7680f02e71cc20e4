#pragma once
// The small window shown while the firmware goes out: a message line, a bar with a percent
// label, and Cancel. It lives on the window's thread and is drawn by the ordinary event loop; a
// transfer that runs on the worker reaches it through the main window's forwarding operator
// (CForwardingOperator), which makes it with CVersionUpDlg::CreateProgress and ends one the
// window's thread no longer answers for with AbandonProgressDlg. While it exists the main window
// is disabled, so no step or command can start meanwhile. Cancel closes nothing: it raises a
// flag that the transfer reads with CheckCancel, from any thread.
#include <QDialog>
#include <QPointer>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "frontend/ProgressModel.h"
#include "frontend/ProgressSink.h"

class QLabel;
class QProgressBar;
class QPushButton;

class CProgressDlg : public QDialog, public IProgressSink {
    Q_OBJECT
public:
    // nTitleId 0 takes the default title, kIdsSending. pMainWindow is the owner that Create()
    // disables when it is given none; nullptr means the application's active window.
    explicit CProgressDlg(unsigned nTitleId = 0, QWidget* pMainWindow = nullptr);
    // Enables the owner again if Create disabled it, then the window goes.
    ~CProgressDlg() override;

    int Create() override { return Create(nullptr); }
    // Shows the window and disables pOwner (or the main window) if it was enabled. 1 on success.
    int Create(QWidget* pOwner);
    void SetMessage(const std::string& strText) override;
    void SetRange(int32_t nLower, int32_t nUpper) override;
    // The bar's previous position.
    int SetPos(int32_t nPos) override;
    // The only call that may come from another thread.
    int CheckCancel() override;

    // Control ids of the window, as the dialog template numbers them.
    static constexpr int kIdCancel = 2;
    static constexpr int kIdBar = 1003;
    static constexpr int kIdPercent = 1004;
    static constexpr int kIdMessage = 1005;

    // The text the percent label shows.
    QString GetPercentText() const;
    QPushButton* GetCancelButton() const { return m_pCancel; }

public slots:
    void accept() override;
    void reject() override;

protected:
    void closeEvent(QCloseEvent* pEvent) override;

private:
    void LayOut();
    void RestoreOwner();

    unsigned m_nTitleId;
    CProgressModel m_model;
    std::atomic<int> m_bCancel{0};
    int m_bOwnerDisabled = 0;

    QPointer<QWidget> m_pMainWindow;
    QPointer<QWidget> m_pOwner;
    QLabel* m_pMessage = nullptr;
    QLabel* m_pPercent = nullptr;
    QProgressBar* m_pProgress = nullptr;
    QPushButton* m_pCancel = nullptr;
};

// Ends a dialog that the window's thread no longer answers for, from any thread: it goes with
// that thread's next events, so that neither it nor its disabled owner is left behind.
void AbandonProgressDlg(std::unique_ptr<IProgressSink> pDlg);
