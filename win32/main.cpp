// versionup.exe: the wizard window on Windows. The main window's modal run is the program; it
// reads no command line and keeps no settings.
#include "win32/MainDlg.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    CMainDlg dlg;
    dlg.Run();
    return 0;
}
