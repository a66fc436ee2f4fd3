// The set-up of a run started from the desktop program's "S&tart..." button:
// what the input and output choices make of the run's BatchRunState.
//
//   "Set Input Options" in the script?   its image list and its two options
//                          otherwise      the batch input dialog
//   a print script?                       no output set-up
//   output settings                       the script's, or the output dialog
//                                         opened on a proposal
//   then the remembered values are written and the temporary batch list made
//
// The dialogs and message boxes are reached through RunSetupUi, so the whole
// flow runs (and is tested) without a window. Nothing is written to the
// settings store before the user has made every choice: a cancelled set-up
// changes nothing.
#pragma once

#include "batch/batch_window.h"
#include "batch/runner.h"

#include <string>
#include <string_view>
#include <vector>

class CScript;
class SettingsStore;

// What the batch input dialog opens with.
struct InputDialogStart {
    std::string folder;           // "OpenDir"
    int filterIndex = 0;          // "OpenIndex": 0 is "All Files"
    bool showErrors = false;      // "InterruptOnErr"
    bool scriptHasOutput = false; // enables "&Use the output settings specified in the script"
};

// What the user chose in it.
struct InputChoice {
    std::string folder;             // absolute: the picked files' folder, or the pattern's
    std::vector<std::string> names; // the picked file names inside folder
    std::string pattern;            // "Select &All": the pattern (names is then empty)
    int filterIndex = 0;
    bool showErrors = false;      // errors are shown in message boxes, not only logged
    bool useScriptOutput = false; // the script's output details; no output dialog
};

class RunSetupUi {
  public:
    virtual ~RunSetupUi() = default;
    // The batch input dialog; false when it was cancelled.
    virtual bool chooseInput(const InputDialogStart& start, InputChoice* choice) = 0;
    // The output dialog, opened on *settings; false when it was cancelled.
    // On true, *settings holds the choice and its folder exists.
    virtual bool chooseOutput(OutputSettings* settings) = 0;
    virtual void showMessage(const std::string& text, MessageIcon icon) = 0;
};

struct RunSetup {
    // Everything but currentLogPath, which belongs to the program.
    BatchRunState state;
    // The print run, for a script made of "Print" (and "Set Input Options").
    bool print = false;
};

// The whole set-up. baseFolder resolves a relative image list path and
// output folder (the script's folder). False when the user cancelled or a
// message already said why nothing runs; the store is then unchanged. On
// true the store has been saved and setup->state names a temporary batch
// list that the run deletes.
bool SetUpInteractiveRun(const CScript& script, const std::string& baseFolder, RunSetupUi& ui,
                         SettingsStore& store, RunSetup* setup);

// The output settings before the output dialog. With the script's "Set Output
// Options": its format, sub-type, folder and retain flag, and its details too
// when useScriptOutput is set; otherwise "OutID" with its remembered sub-type
// and "OutputDir". Details that are not the script's are the defaults.
struct OutputProposal {
    OutputSettings settings;
    bool showDialog = true;
};
OutputProposal ProposeOutput(const CScript& script, const std::string& baseFolder,
                             bool useScriptOutput, const SettingsStore& store);

// Writes what the output dialog chose: "OutputDir", "OutID", the sub-type
// under the format's "BatchSubTypes" key, and the eight "ScriptRun" values.
void StoreDialogOutput(SettingsStore& store, const OutputSettings& settings);

// The "Select &All" pattern: the typed name when there is one, else "*." and
// the chosen filter's extension, "*.*" for "All Files" (an empty extension).
std::string SelectAllPattern(std::string_view typedName, std::string_view filterExtension);

// The output folder exists afterwards, made with its parents when missing.
// False with the system's reason when it cannot be made (or is a file).
bool EnsureOutputFolder(const std::string& folder, std::string* reason);
