#pragma once
// The port dialog (template 141): COM1: to COM4: in an editable list, OK, and Esc or the close
// box for Cancel. Preset with strPort; true on OK with the chosen port in strPort.
#include <string>

#include "win32/WinApi.h"

bool RunPortDlg(HWND hOwner, std::string& strPort);
