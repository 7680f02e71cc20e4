#pragma once
// Numbers of the dialog templates and of their controls that the code names. Plain #defines: the
// resource compiler reads this file too.
#define IDD_VERSIONUP 102
#define IDD_PORT 141
#define IDD_PROGRESS 103
#define IDD_ABOUT 100
#define IDI_APP 128

// Main window; the ids the logic names are in frontend/WizardState.h.
#define IDC_PICTURE_FRAME 1001

// Port dialog
#define IDC_PORT_LIST 1005

// Progress dialog
#define IDC_PROGRESS_BAR 1003
#define IDC_PROGRESS_PERCENT 1004
#define IDC_PROGRESS_MESSAGE 1005

// About box
#define IDC_UPGRADE_FOR 1008
