#pragma once
// The Linux operator's side of "Wrong port.": which device a COM name stands for on this
// computer, and why it would not open, in words a person at the bench can act on.
#include <string>

#include "resources/Strings.h"
#include "serial/SerialPort.h"

std::string DescribeOpenFailure(const std::string& strPort, const CPortError& error,
                                ELanguage eLanguage);
// strPortsDir is the folder of the COM links (the operator's own in the form above): a device
// inside it that cannot be opened means the folder itself cannot be read.
std::string DescribeOpenFailure(const std::string& strPort, const CPortError& error,
                                ELanguage eLanguage, const std::string& strPortsDir);
