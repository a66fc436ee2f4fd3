// Facts about the program that every window shows the same way.
#pragma once

#include <QString>

// The program's name, as the title bars and message boxes show it.
QString ApplicationName();
// The version, from the build.
QString ApplicationVersion();
// Makes the program's resources (icons, the built-in picture) available;
// needed once before the first use, since they live in a static library.
void InitAppResources();
