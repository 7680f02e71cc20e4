#pragma once
// The one door to the Win32 headers, for platform/ and what stands on it (the ports, the Win32
// window, its test reader and the Windows bench). Our own LoadString and FindResource
// (resources/) share their names with the headers' character-set macros, which would rename
// every call.
#ifndef NOMINMAX
#define NOMINMAX
#endif
// Winsock 2 before windows.h, which would otherwise bring in the first Winsock, whose names
// clash with it.
#include <winsock2.h>
#include <ws2tcpip.h>
// A connection's keepalive times (SIO_KEEPALIVE_VALS); it builds on Winsock 2.
#include <mstcpip.h>
// The rest of the system's calls.
#include <windows.h>

#undef LoadString
#undef FindResource
