#pragma once
// The program's version, "2.6.0.0": one figure, set in the top CMakeLists.txt, for the window,
// the command line, the desktop entry and the Debian package. The About box shows the tool's own
// historical figure instead.
const char* GetAppVersion();
