#pragma once
// Stand-ins for the boot loader and the firmware package of a machine release. They keep every
// size, count and figure of the real images (so progress ranges, piece counts and length bytes
// come out as on a real upgrade) and are the same bytes on every run, so the copies committed
// under resources/ can be checked against a fresh build.
#include <cstdint>
#include <vector>

// 3,064 bytes holding every byte value, with runs of the values a broken raw mode or protocol
// handling would damage (0x00, 0x55, 0xAA, 0x11, 0x13, 0xFF).
std::vector<uint8_t> MakeStandinLoader();

// 118,658 bytes: tag, header text "TVK35/50 NRP7/70  V260", the sections "booter  mot" and
// "Tvk35   mot" of binary S-records with their lengths and closing values, and "PUFE".
std::vector<uint8_t> MakeStandinPackage();
