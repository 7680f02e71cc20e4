#pragma once
// Windows .ico files with 16-colour images, the form of the program icon.
#include <cstdint>
#include <vector>

#include "tools/pictures/IndexedPicture.h"

struct CIconImage {
    // At most 16 colours, indexes 0..15.
    CIndexedPicture m_picture;
    // One flag a pixel, row after row from the top: true where the desktop shows through.
    std::vector<bool> m_transparent;
};

// An icon directory with the images in the order given, each a 4-bit bitmap with its AND mask.
std::vector<uint8_t> MakeIconFile(const std::vector<CIconImage>& images);
