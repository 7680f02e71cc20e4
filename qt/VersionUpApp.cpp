#include "qt/VersionUpApp.h"

#include <QApplication>
#include <QSettings>

#include "frontend/AppTitle.h"
#include "frontend/AppVersion.h"
#include "qt/AboutDlg.h"
#include "qt/VersionUpDlg.h"

CVersionUpApp theApp;

void KeepNoSettings() {
    const QString strNowhere = "/dev/null/versionup-keeps-no-settings";
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, strNowhere);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, strNowhere);
}

bool CVersionUpApp::InitInstance(const char* pszProgram) {
    // Qt would take options such as -style or -platform from the command line; the program
    // reads none, so Qt sees the program's name alone.
    int nArgc = 1;
    char* argv[] = {const_cast<char*>(pszProgram), nullptr};
    QApplication app(nArgc, argv);
    QApplication::setApplicationName(QString::fromStdString(GetApplicationTitle()));
    QApplication::setApplicationVersion(GetAppVersion());
    QApplication::setDesktopFileName("versionup");
    KeepNoSettings();

    CVersionUpDlg dlg;
    dlg.SetAboutAction(ShowAboutBox);
    dlg.exec();
    return false;
}
