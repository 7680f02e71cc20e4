#pragma once
// The Win32 headers for the window's files. Our own LoadString and FindResource (resources/)
// share their names with the headers' character-set macros, which would rename every call.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#undef LoadString
#undef FindResource
