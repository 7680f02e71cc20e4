#pragma once
// The About box (template 100): the tool's version and strUpgradeFor, the line that names the
// package in use. Modal over hOwner; OK, Enter, Esc and the close box end it.
#include <string>

#include "win32/WinApi.h"

void RunAboutDlg(HWND hOwner, const std::string& strUpgradeFor);
