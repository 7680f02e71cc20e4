#pragma once
// One behaviour of the simulated machine (answering "F;", boot mode). The simulator feeds it what
// the program sent and it answers through the link. CNormalMode answers the version query,
// CBootMode takes the loader and the package.
#include <cstdint>
#include <vector>

class CPtyLink;

class IMachineMode {
public:
    virtual ~IMachineMode() = default;
    // Bytes just received from the program, in order; answer with link.Send(...). Runs on the
    // simulator's thread.
    virtual void OnReceive(CPtyLink& link, const std::vector<uint8_t>& bytes) = 0;
};
