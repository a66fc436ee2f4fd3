// Output settings of a batch run: format, sub-type, folder and the details
// the writer reads (OutputOptions), taken from "Set Output Options".
//
// The command's slots pack several values:
//   P0 output format identifier - 1     P4 bits 8..15 transparency type,
//   P1 sub-type                            bits 0..7 transparency index
//   P2 bits 0..15 DPI, bit 16 maintain   P5 retain directory
//   P3 compression                       P6 QZM version, P7 plane encoding
//   S0 output folder                     C0 transparent colour
// Unset slots take the catalogue's defaults.
#pragma once

#include "formats/imagefile.h"

#include <string>

class CScriptCommand;
class SettingsStore;

struct OutputSettings {
    int id = 32; // output format identifier, 1..34
    int subType = 0;
    // Without a trailing "/" ("" for the root); the runner adds it back.
    std::string folder;
    // Write each output beside its input file.
    bool retainDirectory = false;
    OutputOptions options;
};

// The defaults of a run whose details were not given.
OutputOptions DefaultOutputOptions();

// Reads a "Set Output Options" command. A relative folder is taken relative
// to baseFolder; an empty one means the user's home folder.
OutputSettings OutputSettingsFromCommand(const CScriptCommand& command,
                                         const std::string& baseFolder);

// Writes the settings into a "Set Output Options" command, every slot the
// kind uses (the inverse of OutputSettingsFromCommand for an absolute folder).
void OutputSettingsToCommand(const OutputSettings& settings, CScriptCommand& command);

// Records the eight detail values of a command-line run in "ScriptRun".
void WriteScriptRunValues(SettingsStore& store, const OutputOptions& options);

// Removes trailing "/" from a folder ("/" itself becomes "").
std::string WithoutTrailingSlash(std::string folder);
