#pragma once
// The one door to the Win32 headers for what lies above platform/ (the Win32 window, its test
// reader and the Windows bench). Our own LoadString and FindResource (resources/) share their
// names with the headers' character-set macros, which would rename every call.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#undef LoadString
#undef FindResource
