#pragma once
// The program icon, resource 128, as the main window and the About box show it.
#include <QIcon>
#include <QPixmap>

// Both images of the icon (32 x 32 and 16 x 16); an empty icon when the resource is missing.
QIcon LoadAppIcon();

// The icon's nSize image for a screen of that device pixel ratio: on a high-density screen each of
// its pixels is repeated, never smoothed, so the small drawing stays sharp as the step pictures do.
QPixmap GetAppIconPixmap(int nSize, qreal dDevicePixelRatio);
