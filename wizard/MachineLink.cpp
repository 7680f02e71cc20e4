// Kept apart from the step machine so that tests with a scripted machine link without the
// device check and the transfer.
#include "device/DeviceCheck.h"
#include "transfer/Transfer.h"
#include "wizard/StepMachine.h"

CMachineLink GetMachineLink() {
    CMachineLink link;
    link.m_fnCheckFirmwareVersion = CheckFirmwareVersion;
    link.m_fnTransferFirmware = TransferFirmware;
    return link;
}
