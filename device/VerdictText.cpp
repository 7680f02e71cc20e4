#include "device/VerdictText.h"

#include "resources/StringIds.h"

const CVerdictText& GetVerdictText(ECheckVerdict eVerdict) {
    static const CVerdictText kNeeded{0, "needed"};
    static const CVerdictText kUnnecessary{kIdsUpgradeUnnecessary, "unnecessary"};
    static const CVerdictText kWrongModel{kIdsWrongModel, "wrong-model"};
    static const CVerdictText kUnusable{kIdsTransmissionFailed, "unusable-reply"};
    static const CVerdictText kNoReply{kIdsTransmissionFailed, "no-reply"};
    static const CVerdictText kPortFailed{kIdsWrongPort, "port-failed"};
    static const CVerdictText kNothingFound{kIdsWrongPort, "nothing-found"};
    static const CVerdictText kCancelled{0, "cancelled"};
    switch (eVerdict) {
    case ECheckVerdict::UpgradeNeeded:
        return kNeeded;
    case ECheckVerdict::Unnecessary:
        return kUnnecessary;
    case ECheckVerdict::WrongModel:
        return kWrongModel;
    case ECheckVerdict::UnusableReply:
        return kUnusable;
    case ECheckVerdict::NoReply:
        return kNoReply;
    case ECheckVerdict::PortFailed:
        return kPortFailed;
    case ECheckVerdict::NothingFound:
        return kNothingFound;
    case ECheckVerdict::Cancelled:
        break;
    }
    return kCancelled;
}
