#pragma once
// Turns a drawing in full colour into an 8-bit picture whose colour table is built from the
// drawing's own colours.
#include <cstdint>

#include "tools/pictures/IndexedPicture.h"

// pPixels: nWidth * nHeight pixels, row after row from the top, as 0x??RRGGBB (the top byte is
// ignored). The result has at most 256 colours. A drawing with 256 colours or fewer keeps them all
// exactly; otherwise its frequent colours (the flat fills) are kept exactly and the rest (edge
// blends, shading) share the remaining entries by median cut. The outcome depends only on the
// pixels, so the same drawing always gives the same picture.
CIndexedPicture QuantizeTo256(const uint32_t* pPixels, int nWidth, int nHeight);
