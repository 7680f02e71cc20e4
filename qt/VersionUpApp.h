#pragma once
// The application: starts Qt, runs the main window as a modal dialog and ends when it closes.
// It reads no command line and keeps no settings.

class CVersionUpApp {
public:
    CVersionUpApp() = default;
    // Runs the whole program; false, as there is no message loop beyond the main window's.
    bool InitInstance(const char* pszProgram);
};

// The one application object.
extern CVersionUpApp theApp;

// Points Qt's own per-user settings (the file dialog remembers its folders) at a place that
// cannot be written, so that a run leaves nothing behind.
void KeepNoSettings();
