#include "cli/CliCommands.h"

#include <cstdio>

#include "device/OpenFailure.h"

std::string CCli::DescribeFailure(const CPortName& port, const CTransferOutcome& outcome,
                                  const CCommandLine& line) const {
    std::string strStep;
    switch (outcome.m_eStep) {
    case ETransferStep::Open:
    case ETransferStep::OpenPackage:
        strStep = LoadString(kIdsCliPhaseOpen, m_eLanguage);
        break;
    case ETransferStep::Sync:
        strStep = Text(kIdsCliStepSync);
        break;
    case ETransferStep::BitRate:
        strStep = Text(kIdsCliStepBitRate);
        break;
    case ETransferStep::Length:
        strStep = Text(kIdsCliStepLength);
        break;
    case ETransferStep::Loader:
        // Counted from 1, as an operator counts bytes.
        strStep = Text(kIdsCliStepLoader, {std::to_string(outcome.m_nIndex + 1)});
        break;
    case ETransferStep::LoaderEnd:
        strStep = Text(kIdsCliStepLoaderEnd);
        break;
    case ETransferStep::Package:
    case ETransferStep::Finish:
        strStep = Text(kIdsCliStepPackage);
        break;
    }
    auto hex = [](int nByte) {
        char sz[8];
        std::snprintf(sz, sizeof sz, "%02X", nByte & 0xFF);
        return std::string(sz);
    };
    switch (outcome.m_eFault) {
    case ETransferFault::None:
    case ETransferFault::Cancelled:
        return {};
    case ETransferFault::OpenFailed:
        return OneLine(DescribeOpenFailure(port.m_strOpen, outcome.m_openError, m_eLanguage));
    case ETransferFault::NoLoader:
        return Text(kIdsCliNoLoader);
    case ETransferFault::BadPackage:
        return Text(kIdsCliBadPackage);
    case ETransferFault::WrongReply:
        return Text(kIdsCliWrongReply,
                    {hex(outcome.m_nReceived), hex(outcome.m_nExpected), strStep});
    case ETransferFault::NoReply:
        return Text(kIdsCliNoReply, {line.m_strTimeout, strStep});
    case ETransferFault::HungUp:
        return Text(kIdsCliHungUp, {strStep}) +
               (outcome.m_strGone.empty() ? "" : ": " + outcome.m_strGone);
    case ETransferFault::WriteFailed:
        return Text(kIdsCliWriteFailed, {strStep});
    case ETransferFault::Unconfirmed:
        return Text(kIdsCliUnconfirmed, {strStep});
    }
    return {};
}
