// The program's icon, drawn at run time from the same shapes as
// app/resources/brellix.svg (the installed icon): Qt's SVG support is not a
// dependency of the program.
#pragma once

#include <QIcon>

QIcon ApplicationIcon();

// Where the tool bar's icons come from: the desktop's icon theme, or
// Adwaita when the session names none (a bare X server, for instance).
void SetUpIconTheme();
