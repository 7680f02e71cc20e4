#pragma once
#include <cstdint>
#include <vector>

inline void PutLe16(std::vector<uint8_t>& out, uint16_t n) {
    out.push_back(static_cast<uint8_t>(n));
    out.push_back(static_cast<uint8_t>(n >> 8));
}

inline void PutLe32(std::vector<uint8_t>& out, uint32_t n) {
    PutLe16(out, static_cast<uint16_t>(n));
    PutLe16(out, static_cast<uint16_t>(n >> 16));
}
