#pragma once
// The ports the operator is offered and discovery tries, in this order: "COM1:" to "COM4:"
// always, as the PCs with on-board ports have them, then the ports above COM4 this computer has
// now (a USB serial adapter gets the next free number, often COM5 or above).
#include <string>
#include <system_error>
#include <vector>

#include "ports/PortMap.h"

// The four names every list starts with.
constexpr int kFixedPortCount = 4;

struct CListedPort {
    std::string m_strName; // "COM7:"
    EPortKind m_eKind = EPortKind::Serial;
    // Whether discovery writes its query there: not to a Bluetooth port or a modem.
    bool IsProbed() const { return m_eKind == EPortKind::Serial; }
};

struct CPortList {
    std::vector<CListedPort> m_ports;
    // The ports folder that could not be read, and why; the list then holds COM1 to COM4 only.
    std::string m_strFolder;
    std::error_code m_folderError;
};

CPortList ListPorts();
// The names of ListPorts(), for the dialogs.
std::vector<std::string> ListPortNames();
