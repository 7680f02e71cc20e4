#pragma once
// The About box: the tool's own version, and which machines and package version the package in
// use is for.
#include <QDialog>
#include <string>

class QLabel;
class QPushButton;

constexpr int kIdUpgradeFor = 1008;

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* pParent = nullptr);
    ~CAboutDlg() override;

    // Shown in control 1008 when the dialog opens; set by the caller before that.
    std::string m_strUpgradeFor;

    QLabel* GetUpgradeForLabel() const { return m_pUpgradeFor; }
    QLabel* GetVersionLabel() const { return m_pVersion; }
    QPushButton* GetOkButton() const { return m_pOk; }
    QLabel* GetIconLabel() const { return m_pIcon; }

    void setVisible(bool bVisible) override;

private:
    QLabel* m_pIcon = nullptr;
    QLabel* m_pVersion = nullptr;
    QLabel* m_pUpgradeFor = nullptr;
    QPushButton* m_pOk = nullptr;
};

// Runs the About box over pParent: what the main window's "&About..." does.
void ShowAboutBox(QWidget* pParent, const std::string& strUpgradeFor);
