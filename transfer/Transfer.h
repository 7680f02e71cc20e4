#pragma once
// The firmware transfer: the boot loader uploaded with the processor's boot-mode handshake at
// 9600 baud, then the package streamed at 38400 baud, with progress and Cancel.
#include <string>

class CPackageFile;
class IOperator;

// pFile: an open package file at its start, or nullptr for the built-in package.
// 1 when the loader was accepted and every piece of the package handed to the port; 0 on any
// failure or cancel. Shows no message of its own.
int TransferFirmware(const std::string& strPort, CPackageFile* pFile, IOperator& op);
