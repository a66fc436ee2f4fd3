// The script layer's headers for code that also includes Qt's: the command
// catalogue names a member "slots", which Qt keeps as a keyword, so they are
// read with the keyword put aside.
#pragma once

#pragma push_macro("slots")
#undef slots
#include "script/commands.h"
#include "script/script.h"
#pragma pop_macro("slots")
