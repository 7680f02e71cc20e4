#pragma once
// Run-length coded 8-bit BMP files (BI_RLE8), the form the step pictures are carried in.
// Qt writes only uncompressed BMP, so the coding is ours.
#include <cstdint>
#include <vector>

#include "tools/pictures/IndexedPicture.h"

// One row as RLE8 codes, without its end-of-line code: encoded runs for repeats, absolute runs
// (padded to an even length) for stretches of differing indexes.
std::vector<uint8_t> EncodeRle8Row(const uint8_t* pRow, int nWidth);

// The whole bitmap, bottom row first, each row closed by end of line, the last one followed by
// end of bitmap.
std::vector<uint8_t> EncodeRle8(const CIndexedPicture& picture);

// A complete .bmp file: file header, 40-byte info header with BI_RLE8, height positive (stored
// bottom-up), a colour table of 256 entries (used 256, important 256; entries the picture does not
// have are black), then the coded bitmap.
std::vector<uint8_t> MakeRle8Bmp(const CIndexedPicture& picture);
