#include "device/PortList.h"

#include "ports/PortMap.h"
CPortList ListPorts() {
    const CPortMap map = CPortMap::System();
    const CPortTable table = map.Map();
    CPortList list;
    if (table.m_folderError) {
        list.m_strFolder = map.GetPortsDir();
        list.m_folderError = table.m_folderError;
    }
    auto kindOf = [&](int n) {
        const CPortEntry* pEntry = table.Find(n);
        return pEntry ? pEntry->m_eKind : EPortKind::Serial;
    };
    for (int n = 1; n <= kFixedPortCount; ++n)
        list.m_ports.push_back({"COM" + std::to_string(n) + ":", kindOf(n)});
    for (const CPortEntry& entry : table.m_entries) {
        if (entry.m_nCom > kFixedPortCount)
            list.m_ports.push_back({"COM" + std::to_string(entry.m_nCom) + ":", entry.m_eKind});
    }
    return list;
}

std::vector<std::string> ListPortNames() {
    std::vector<std::string> names;
    for (const CListedPort& port : ListPorts().m_ports)
        names.push_back(port.m_strName);
    return names;
}
