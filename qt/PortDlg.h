#pragma once
// Dialog 141 "Select COM port": the operator picks one of COM1: to COM4: or a port above COM4
// this computer has. Used by port discovery
// when no port answered, and by the main window's Select Port command.
#include <QDialog>
#include <string>

class QComboBox;
class QPushButton;

class CPortDlg : public QDialog {
    Q_OBJECT
public:
    explicit CPortDlg(QWidget* pParent = nullptr);
    ~CPortDlg() override;

    // Preset by the caller before the dialog is shown; after OK the chosen list item.
    std::string m_strPort;

    // Runs the dialog modally over pOwner preset with strPort; true on OK with the choice in
    // strPort, false (strPort unchanged) on Cancel.
    static bool Run(QWidget* pOwner, std::string& strPort);

    // The device a port name stands for on this computer, as the list's tooltips show it.
    static QString DescribeDevice(const std::string& strPort);

    QComboBox* GetList() const { return m_pList; }
    QPushButton* GetOkButton() const { return m_pOk; }

public slots:
    void accept() override;

protected:
    void showEvent(QShowEvent* pEvent) override;

private:
    void OnInitDialog();
    void UpdateToolTip();

    QPushButton* m_pOk = nullptr;
    QComboBox* m_pList = nullptr;
};
