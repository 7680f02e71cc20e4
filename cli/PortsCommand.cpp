#include "cli/CliCommands.h"

#include <iterator>
#include <memory>

#include "cli/CliText.h"
#include "device/OpenFailure.h"
#include "device/PortList.h"
#include "ports/PortMap.h"
#include "ports/SerialDevice.h"

int CCli::Ports(const CCommandLine& line) {
    const CPortMap map = CPortMap::System();
    const CPortList list = ListPorts();
    if (list.m_folderError) {
        // Which device each number stands for is unknown: said once, before the four that every
        // list shows.
        const std::string strReason = OneLine(
            DescribeUnreadableFolder(list.m_strFolder, list.m_folderError.value(), m_eLanguage));
        Print(line.m_bJson
                  ? "{\"event\":\"ports-folder\",\"folder\":" + JsonString(list.m_strFolder) +
                        ",\"state\":\"unreadable\",\"reason\":" + JsonString(strReason) + "}\n"
                  : strReason + "\n");
    }
    for (const CListedPort& listed : list.m_ports) {
        const std::string& strName = listed.m_strName;
        const int n = ParseComNumber(strName);
        const std::string strDevice = map.Resolve(strName);
        CPortError error{0, strDevice};
        // A Bluetooth port's open waits while the radio looks for its peer, and a modem's is the
        // line of a telephone: neither is tried.
        if (!strDevice.empty() && listed.IsProbed()) {
            const std::unique_ptr<ISerialDevice> pDevice = MakeSerialDeviceFor(strDevice);
            error.m_nErrno = pDevice->Open(strDevice);
            error.m_strCause = pDevice->GetCauseText();
            pDevice->Close();
        }
        const bool bPresent = !strDevice.empty() && error.m_nErrno == 0;
        // Listed so that it can be chosen, but the check without --port leaves it alone.
        const std::string strState =
            !listed.IsProbed() ? Text(listed.m_eKind == EPortKind::Bluetooth ? kIdsCliBluetoothPort
                                                                             : kIdsCliModemPort)
            : bPresent         ? Text(kIdsCliPresent)
                               : DescribeOpenState(error, m_eLanguage);
        if (line.m_bJson) {
            // The state as a word a script can match, the sentence beside it as "reason".
            static const char* const s_states[] = {"no-device",  "absent",     "busy", "denied",
                                                   "unreadable", "not-serial", "error"};
            static_assert(std::size(s_states) == static_cast<size_t>(EOpenCause::Other) + 1);
            const char* pszState = !listed.IsProbed() ? "not-probed"
                                   : bPresent         ? "present"
                                              : s_states[static_cast<int>(ClassifyOpenFailure(
                                                    error, CPortMap::DefaultPortsDir()))];
            // Only a port the check leaves alone carries its kind.
            const std::string strKind =
                listed.IsProbed()
                    ? std::string()
                    : std::string(",\"kind\":\"") +
                          (listed.m_eKind == EPortKind::Bluetooth ? "bluetooth" : "modem") + "\"";
            Print("{\"event\":\"port\",\"port\":\"COM" + std::to_string(n) +
                  "\",\"device\":" + (strDevice.empty() ? "null" : JsonString(strDevice)) +
                  strKind + ",\"state\":\"" + pszState + "\"" +
                  (bPresent || !listed.IsProbed() ? "" : ",\"reason\":" + JsonString(strState)) +
                  "}\n");
            continue;
        }
        char szLine[64];
        std::snprintf(szLine, sizeof szLine, "COM%d  %-28s  ", n,
                      strDevice.empty() ? "-" : strDevice.c_str());
        Print(szLine + strState + "\n");
    }
    return kExitOk;
}
