#pragma once
// The Win32 headers for the window's files: the platform's own, and the common controls.
#include "platform/Win32Api.h"
// After windows.h, which it needs.
#include <commctrl.h>
