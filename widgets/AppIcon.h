#pragma once
// The program icon, resource 128, as the main window and the About box show it.
#include <QIcon>

// Both images of the icon (32 x 32 and 16 x 16); an empty icon when the resource is missing.
QIcon LoadAppIcon();
