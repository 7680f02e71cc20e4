#pragma once
// The steps of a firmware transfer, as the transfer reports them to its progress sink while it
// runs and in its outcome when it ends. A front end renders these; it need not know how the
// progress dialog's bar is weighted.
#include <cstdint>

enum class ETransferStep {
    Open,        // opening the port at 9600 for the boot mode
    Sync,        // the synchronisation's 0x00 bytes
    BitRate,     // 0x55 answered by 0xAA
    Length,      // the loader's length, echoed
    Loader,      // a loader byte, echoed (m_nIndex)
    LoaderEnd,   // the 0xAA that starts the loader
    OpenPackage, // opening the port at 38400 for the package
    Package,     // the package's pieces
    Finish,      // the last pause before the port closes
};
