// The desktop program's start-up steps that need no window.
#pragma once

#include "batch/cmdline.h"

#include <string>

class SettingsStore;

// The screen depth the program works with: any value above 8 bits per pixel
// counts as 24.
int StoredScreenDepth(int bitsPerPixel);

// Tests a folder by creating and deleting "WRITE.TST" in it.
bool IsFolderWritable(const std::string& folder);

struct UserFolder {
    std::string folder;    // the folder this run uses
    bool fellBack = false; // the configured folder could not be written to
    std::string configured;
};
// Reads "General"/"UserDirectory" and tests it. A folder that cannot be
// written to is replaced, for this run, by the home folder. A folder other
// than the home folder is written back with a trailing "/" (the store is not
// saved here).
UserFolder CheckUserFolder(SettingsStore& store);

// The script the command line names (mode 1 or 2): ".ksc" appended when its
// file name has no ".", made absolute against currentFolder, and
// test-opened for reading. False, with *message the text to show, when it
// cannot be opened.
bool PrepareCommandLineScript(CommandLine* cl, const std::string& currentFolder,
                              std::string* message);
