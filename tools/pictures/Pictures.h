#pragma once
// The stand-in step pictures (resources 130..140) and the program icon (resource 128), drawn
// here because the machine's photographs are not ours to carry. Drawing needs a
// QGuiApplication (fonts); run it on the offscreen platform.
#include <QImage>
#include <cstdint>
#include <vector>

#include "tools/pictures/IconFile.h"
#include "tools/pictures/IndexedPicture.h"

constexpr int kPictureWidth = 256;
constexpr int kPictureHeight = 192;

// The drawing in full colour, before it is reduced to 256 colours.
QImage DrawStepPicture(int nId);
// One line on what picture nId shows, for the contact sheet.
const char* StepPictureCaption(int nId);

// The drawing reduced to its own 256-colour table.
CIndexedPicture MakeStepPicture(int nId);
// The .bmp file of picture nId, byte for byte what resources/pictures/<nId>.bmp holds.
std::vector<uint8_t> MakeStepPictureFile(int nId);

// The icon's images, 32 x 32 then 16 x 16, 16 colours each.
std::vector<CIconImage> MakeIconImages();
std::vector<uint8_t> MakeProgramIconFile();
