// Raw access to the string tables, for checks over every entry.
#pragma once

#include <span>

struct StringEntry {
    int id;
    const char* text;
};

std::span<const StringEntry> AllStrings();
std::span<const StringEntry> AllLibTexts();
