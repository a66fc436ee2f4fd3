// Starting a batch from the command line: the script's "Set Output Options"
// become the run's output settings, and the input comes from the script's
// "Set Input Options", from the input pattern, or from an image list, in that
// order. Every failure of the set-up is shown through the window.
#pragma once

#include "batch/batch_window.h"
#include "batch/cmdline.h"

#include <string>

class CScript;
class OptimumPaletteBuilder;

struct BatchModeResult {
    enum Outcome { SetupFailed, ListNotOpened, Ran };
    Outcome outcome = SetupFailed;
    bool print = false; // the print run was used
    bool aborted = false;
    int files = 0;
    int done = 0; // converted (or printed)
};

// 0 every listed file done, 1 some not, 2 a set-up error, 130 an abort.
int ExitStatusFor(const BatchModeResult& r);

// Runs the loaded script as the command line asks. currentFolder resolves
// relative patterns and folders; currentLogPath is where "CURRENT.LOG" goes
// ("" for nowhere).
BatchModeResult RunBatchMode(CScript& script, const CommandLine& cl, BatchWindow& window,
                             const std::string& currentFolder, const std::string& currentLogPath,
                             OptimumPaletteBuilder* paletteBuilder = nullptr);

// The input pattern split into an absolute folder and the pattern itself.
void ResolveInputPattern(const std::string& input, const std::string& currentFolder,
                      std::string* folder, std::string* pattern);
