#pragma once
// The Linux operator's side of "Wrong port.": which device a COM name stands for on this
// computer, and why it would not open, in words a person at the bench can act on.
#include <string>

#include "resources/Strings.h"
#include "serial/SerialPort.h"

std::string DescribeOpenFailure(const std::string& strPort, const CPortError& error,
                                ELanguage eLanguage);
