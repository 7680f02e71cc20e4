#pragma once
// The firmware transfer: the boot loader uploaded with the processor's boot-mode handshake at
// 9600 baud, then the package streamed at 38400 baud, with progress and Cancel.
#include <cstdint>
#include <string>
#include <vector>

class IOperator;

// pPackage: a chosen package as LoadCheckedPackage read and checked it, sent exactly as it is;
// nullptr for the built-in package.
// 1 when the loader was accepted and every piece of the package handed to the port; 0 on any
// failure or cancel. Shows no message of its own.
int TransferFirmware(const std::string& strPort, const std::vector<uint8_t>* pPackage,
                     IOperator& op);
