#include "device/VerdictText.h"

#include <iterator>

#include "resources/StringIds.h"

const CVerdictText& GetVerdictText(ECheckVerdict eVerdict) {
    // In the order of ECheckVerdict.
    static const CVerdictText s_texts[] = {
        {0, "needed"},
        {kIdsUpgradeUnnecessary, "unnecessary"},
        {kIdsWrongModel, "wrong-model"},
        {kIdsTransmissionFailed, "unusable-reply"},
        {kIdsTransmissionFailed, "no-reply"},
        {kIdsWrongPort, "port-failed"},
        {kIdsWrongPort, "nothing-found"},
        {0, "cancelled"},
    };
    static_assert(std::size(s_texts) == static_cast<size_t>(ECheckVerdict::Cancelled) + 1);
    return s_texts[static_cast<size_t>(eVerdict)];
}
