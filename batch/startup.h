// Start-up of a program without windows: component checks, the settings
// store, the memory manager, and the data and state folders.
#pragma once

#include <string>

struct StartupInfo {
    std::string dataFolder;  // read-only data ("KCD.DAT")
    std::string stateFolder; // "CURRENT.LOG"; empty when it cannot be made
    std::string stateFolderError;
};

// False when a component has the wrong version (the caller shows
// *message and ends). exePath: the program file, for the data folder, which
// is also put into BRELLIX_DATA_DIR when that is not set.
bool StartUp(const std::string& exePath, StartupInfo* info, std::string* message);
void ShutDown();

// BRELLIX_DATA_DIR, else <exe>/../share/brellix when it exists, else the
// build tree's data folder.
std::string DataFolder(const std::string& exePath);
// The program's own path (/proc/self/exe), or argv0 when that fails.
std::string ProgramPath(const char* argv0);
