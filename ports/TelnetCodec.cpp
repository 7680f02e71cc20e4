#include "ports/TelnetCodec.h"

namespace telnet {

void CTelnetDecoder::Feed(const uint8_t* pBytes, size_t nCount, std::vector<uint8_t>& data,
                          std::vector<CTelnetCommand>& commands) {
    for (size_t i = 0; i < nCount; ++i) {
        const uint8_t c = pBytes[i];
        switch (m_eState) {
        case EState::Data:
            if (c == kIac)
                m_eState = EState::Iac;
            else
                data.push_back(c);
            break;
        case EState::Iac:
            if (c == kIac) {
                data.push_back(c);
                m_eState = EState::Data;
            } else if (c == kWill || c == kWont || c == kDo || c == kDont || c == kSb) {
                m_command = CTelnetCommand();
                m_command.m_nVerb = c;
                m_eState = EState::Option;
            } else {
                // NOP, GA, a stray SE and the like carry nothing for a serial line.
                m_eState = EState::Data;
            }
            break;
        case EState::Option:
            m_command.m_nOption = c;
            if (m_command.m_nVerb == kSb) {
                m_eState = EState::Sub;
            } else {
                commands.push_back(std::move(m_command));
                m_eState = EState::Data;
            }
            break;
        case EState::Sub:
            if (c == kIac) {
                m_eState = EState::SubIac;
            } else if (m_command.m_payload.size() < kMaxPayload) {
                m_command.m_payload.push_back(c);
            } else {
                m_command.m_bTruncated = true;
            }
            break;
        case EState::SubIac:
            if (c == kIac) {
                if (m_command.m_payload.size() < kMaxPayload)
                    m_command.m_payload.push_back(c);
                else
                    m_command.m_bTruncated = true;
                m_eState = EState::Sub;
            } else if (c == kSe) {
                commands.push_back(std::move(m_command));
                m_eState = EState::Data;
            } else {
                // A server that leaves a subnegotiation without IAC SE: the broken one is
                // dropped, and the byte starts a command of its own, so data after it is not
                // swallowed as part of the subnegotiation.
                m_eState = EState::Iac;
                --i;
            }
            break;
        }
    }
}

void AppendEscaped(const uint8_t* pBytes, size_t nCount, std::vector<uint8_t>& out) {
    out.reserve(out.size() + nCount);
    for (size_t i = 0; i < nCount; ++i) {
        out.push_back(pBytes[i]);
        if (pBytes[i] == kIac)
            out.push_back(kIac);
    }
}

void AppendNegotiation(uint8_t nVerb, uint8_t nOption, std::vector<uint8_t>& out) {
    out.insert(out.end(), {kIac, nVerb, nOption});
}

void AppendComCommand(uint8_t nCommand, const std::vector<uint8_t>& value,
                      std::vector<uint8_t>& out) {
    out.insert(out.end(), {kIac, kSb, kOptComPort, nCommand});
    AppendEscaped(value.data(), value.size(), out);
    out.insert(out.end(), {kIac, kSe});
}

bool DecodeComAnswer(const CTelnetCommand& command, CComAnswer& answer) {
    if (command.m_nVerb != kSb || command.m_nOption != kOptComPort || command.m_bTruncated ||
        command.m_payload.empty() || command.m_payload[0] < kComServerOffset)
        return false;
    answer.m_nCommand = static_cast<uint8_t>(command.m_payload[0] - kComServerOffset);
    const size_t nLength = command.m_payload.size() - 1;
    const size_t nExpected =
        answer.m_nCommand == kComSetBaud                                              ? 4
        : answer.m_nCommand == kComFlowSuspend || answer.m_nCommand == kComFlowResume ? 0
                                                                                      : 1;
    // Every answer the program reads carries one byte but the baud rate's four and the flow
    // notices' none; the signature (0) is text and is not read.
    if (answer.m_nCommand == 0 || nLength != nExpected)
        return false;
    answer.m_nValue = 0;
    for (size_t i = 1; i < command.m_payload.size(); ++i)
        answer.m_nValue = (answer.m_nValue << 8) | command.m_payload[i];
    return true;
}

std::string ComCommandName(uint8_t nCommand) {
    switch (nCommand) {
    case kComSetBaud:
        return "SET-BAUDRATE";
    case kComSetDataSize:
        return "SET-DATASIZE";
    case kComSetParity:
        return "SET-PARITY";
    case kComSetStopSize:
        return "SET-STOPSIZE";
    case kComSetControl:
        return "SET-CONTROL";
    case kComNotifyLineState:
        return "NOTIFY-LINESTATE";
    case kComNotifyModemState:
        return "NOTIFY-MODEMSTATE";
    case kComFlowSuspend:
        return "FLOWCONTROL-SUSPEND";
    case kComFlowResume:
        return "FLOWCONTROL-RESUME";
    case kComSetLineStateMask:
        return "SET-LINESTATE-MASK";
    case kComSetModemStateMask:
        return "SET-MODEMSTATE-MASK";
    case kComPurgeData:
        return "PURGE-DATA";
    default:
        return "command " + std::to_string(nCommand);
    }
}

} // namespace telnet
