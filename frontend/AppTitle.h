#pragma once
// The application title: the caption of every message box. It is the name of the running
// program file without its extension, so a renamed copy carries its new name.
#include <string>

// From the running executable (/proc/self/exe), never from the command line.
std::string GetApplicationTitle();
// The folder of the running executable, ending in '/'; empty when it cannot be told.
std::string GetProgramFolder();
// strFileName without its last extension ("versionup.bin" -> "versionup"; ".hidden" stays).
std::string StripExtension(const std::string& strFileName);
