// The script layer's headers for code that also sees Qt's: Qt defines
// "slots" as a keyword macro, and the slot table has a member of that name.
#pragma once

#ifdef slots
#pragma push_macro("slots")
#undef slots
#include "script/commands.h"
#include "script/script.h"
#pragma pop_macro("slots")
#else
#include "script/commands.h"
#include "script/script.h"
#endif
