#include "cli/CliCommands.h"

#include <iterator>
#include <memory>

#include "device/OpenFailure.h"
#include "device/PortList.h"
#include "ports/PortMap.h"
#include "ports/SerialDevice.h"

int CCli::Ports(const CCommandLine& line) {
    const CPortMap map = CPortMap::System();
    for (const std::string& strName : ListPortNames()) {
        const int n = ParseComNumber(strName);
        const std::string strDevice = map.Resolve(strName);
        CPortError error{0, strDevice};
        if (!strDevice.empty()) {
            const std::unique_ptr<ISerialDevice> pDevice = MakeSerialDeviceFor(strDevice);
            error.m_nErrno = pDevice->Open(strDevice);
            error.m_strCause = pDevice->GetCauseText();
            pDevice->Close();
        }
        const bool bPresent = !strDevice.empty() && error.m_nErrno == 0;
        const std::string strState =
            bPresent ? Text(kIdsCliPresent) : DescribeOpenState(error, m_eLanguage);
        if (line.m_bJson) {
            // The state as a word a script can match, the sentence beside it as "reason".
            static const char* const s_states[] = {"no-device", "absent",     "busy",  "denied",
                                                   "unreadable", "not-serial", "error"};
            static_assert(std::size(s_states) == static_cast<size_t>(EOpenCause::Other) + 1);
            const char* pszState =
                bPresent ? "present"
                         : s_states[static_cast<int>(
                               ClassifyOpenFailure(error, CPortMap::DefaultPortsDir()))];
            Print("{\"event\":\"port\",\"port\":\"COM" + std::to_string(n) +
                  "\",\"device\":" + (strDevice.empty() ? "null" : JsonString(strDevice)) +
                  ",\"state\":\"" + pszState + "\"" +
                  (bPresent ? "" : ",\"reason\":" + JsonString(strState)) + "}\n");
            continue;
        }
        char szLine[64];
        std::snprintf(szLine, sizeof szLine, "COM%d  %-28s  ", n,
                      strDevice.empty() ? "-" : strDevice.c_str());
        Print(szLine + strState + "\n");
    }
    return kExitOk;
}
