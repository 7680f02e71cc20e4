#include "device/PortList.h"

#include "ports/PortMap.h"

std::vector<std::string> ListPortNames() {
    std::vector<std::string> names;
    for (int n = 1; n <= kFixedPortCount; ++n)
        names.push_back("COM" + std::to_string(n) + ":");
    for (int n : CPortMap::System().ListComNumbers()) {
        if (n > kFixedPortCount)
            names.push_back("COM" + std::to_string(n) + ":");
    }
    return names;
}
