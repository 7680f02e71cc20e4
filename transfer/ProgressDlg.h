#pragma once
// The small window shown while the firmware goes out: a message line, a bar with a percent
// label, and Cancel. It runs no event loop of its own; the transfer calls it between bytes and
// pieces, and each call handles the events that are waiting. While it exists the main window is
// disabled, so no step or command can start meanwhile. Cancel closes nothing: it raises a flag
// that the transfer reads with CheckCancel.
#include <QDialog>
#include <QPointer>

#include <cstdint>
#include <string>

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
    int CheckCancel() override;

    // Handles every event that is waiting for this thread and returns; never waits.
    static void PumpMessages();

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
    void UpdatePercent(int32_t nPos);
    void RestoreOwner();

    unsigned m_nTitleId;
    int32_t m_nLower = 0;
    int32_t m_nUpper = 100;
    int m_bCancel = 0;
    int m_bOwnerDisabled = 0;

    QPointer<QWidget> m_pMainWindow;
    QPointer<QWidget> m_pOwner;
    QLabel* m_pMessage = nullptr;
    QLabel* m_pPercent = nullptr;
    QProgressBar* m_pProgress = nullptr;
    QPushButton* m_pCancel = nullptr;
};
