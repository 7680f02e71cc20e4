#pragma once
// The ports the operator is offered and discovery tries, in this order: "COM1:" to "COM4:"
// always, as the PCs with on-board ports have them, then the ports above COM4 this computer has
// now (a USB serial adapter gets the next free number, often COM5 or above).
#include <string>
#include <vector>

// The four names every list starts with.
constexpr int kFixedPortCount = 4;

std::vector<std::string> ListPortNames();
