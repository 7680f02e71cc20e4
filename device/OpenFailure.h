#pragma once
// The Linux operator's side of "Wrong port.": which device a COM name stands for on this
// computer, and why it would not open, in words a person at the bench can act on. The OS's cause
// is sorted here once, for the wizard's detail and for versionup-cli's port states alike.
#include <string>

#include "resources/Strings.h"
#include "serial/SerialPort.h"

enum class EOpenCause {
    NoDevice,         // the port name stands for no device
    NotPresent,       // the device named is not there (unplugged, a dangling link)
    InUse,            // another program has it
    Denied,           // the user may not open it
    FolderUnreadable, // the ports folder cannot be looked into, so its link cannot be followed
    NotSerial,        // it opened, and is no serial port
    Other,            // anything else: the OS's own words
};

// strPortsDir is the folder of the COM links (the operator's own when not given): a device
// inside it that cannot be opened means the folder itself cannot be read.
EOpenCause ClassifyOpenFailure(const CPortError& error, const std::string& strPortsDir);

std::string DescribeOpenFailure(const std::string& strPort, const CPortError& error,
                                ELanguage eLanguage);
std::string DescribeOpenFailure(const std::string& strPort, const CPortError& error,
                                ELanguage eLanguage, const std::string& strPortsDir);
// The same cause as a short state, as versionup-cli ports lists it beside the device.
std::string DescribeOpenState(const CPortError& error, ELanguage eLanguage);
// Why the ports folder strFolder could not be looked into, as the check reports it in place of a
// list of ports it cannot know.
std::string DescribeUnreadableFolder(const std::string& strFolder, int nErrno, ELanguage eLanguage);
