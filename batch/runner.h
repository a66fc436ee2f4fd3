// The batch runner: applies a script to every file of a batch list.
//
//   for each listed file:  read -> every script command -> overwrite rule
//                          -> compatibility check -> write -> "CURRENT.LOG"
//
// Per-file failures are logged (and shown when the run is not unattended)
// and the run goes on with the next file. Only the user's abort, Cancel in
// the overwrite question, or a batch list that cannot be opened end a run
// early. An abort leaves no partial output: the writer replaces a file only
// once it is complete.
#pragma once

#include "batch/batch_log.h"
#include "batch/batch_window.h"
#include "batch/output_options.h"
#include "core/dib.h"
#include "core/errors.h"
#include "core/kmem.h"

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class CScript;

// Builds the palette of "Apply Fully Optimized Palette" from every file of a
// run (the optimum-palette scan). Provided by the colour-reduction code.
class OptimumPaletteBuilder {
  public:
    virtual ~OptimumPaletteBuilder() = default;
    // colours: the command's P0; the other arguments its palette slots.
    virtual KervErrorCode begin(int colours, int includeWindowsColours, int kind) = 0;
    virtual KervErrorCode addImage(KHANDLE dib, StatusControlBlock* status) = 0;
    // Fills up to 256 entries; *count receives the number made.
    virtual KervErrorCode finish(RGBQUAD* palette, int* count) = 0;
};

// The builder a run uses unless it is given another: the program's optimized
// palette accumulator (median cut or octree over every scanned image).
class AccumulatingPaletteBuilder : public OptimumPaletteBuilder {
  public:
    KervErrorCode begin(int colours, int includeWindowsColours, int kind) override;
    KervErrorCode addImage(KHANDLE dib, StatusControlBlock* status) override;
    KervErrorCode finish(RGBQUAD* palette, int* count) override;

  private:
    bool windowsColours_ = false;
};

// Everything a run needs besides the script, filled by the run's set-up.
struct BatchRunState {
    std::string batchListPath;
    // 1: each line is a full path; 0: a name inside inputFolder.
    int listMode = 1;
    std::string inputFolder;
    OutputSettings output;
    // Errors are only logged; otherwise they are shown too.
    bool unattended = true;
    // The list may start with the image-list header line "BRL".
    bool headerSkip = false;
    // 2 for a run started from the command line.
    int commandLineMode = 0;
    // The batch list is a temporary file to delete when the run ends.
    bool deleteListAfterRun = false;
    // Command-line options: close the window at the end unless keepOpen;
    // save the log to logPath (reporting errors) when it is set.
    bool keepOpen = false;
    std::string logPath;
    // Where "CURRENT.LOG" goes; empty for none.
    std::string currentLogPath;
    // Files converted at a time (0: one per processor). Whatever the number,
    // the outputs, the log and the counts are those of one at a time.
    int jobs = 1;
    // Only the files whose position in the list (from 0) is shardIndex modulo
    // shardCount are converted; the optimum-palette scan still reads all.
    int shardIndex = 0;
    int shardCount = 1;
};

class BatchRunner {
  public:
    enum RunState { Idle = 0, Running = 1, Scanning = 2 };

    // paletteBuilder: the optimum-palette scan's builder; null for the
    // program's own (AccumulatingPaletteBuilder).
    BatchRunner(CScript& script, BatchWindow& window, BatchRunState state,
                OptimumPaletteBuilder* paletteBuilder = nullptr);
    ~BatchRunner();
    BatchRunner(const BatchRunner&) = delete;
    BatchRunner& operator=(const BatchRunner&) = delete;

    // 1 when the run took place (even if it was aborted), 0 when the batch
    // list could not be opened.
    int RunConversion();
    // The same walk for a print script: no output, no overwrite rule; a file
    // counts as done when its script completed and its "Print" succeeded.
    int RunPrint();

    int fileCount() const { return fileCount_; }
    int successCount() const { return successCount_; }
    bool aborted() const { return aborted_; }
    RunState runState() const { return runState_; }
    const BatchLog& log() const { return log_; }

  private:
    enum class FileOutcome { Done, NotDone, Abort, DoneThenAbort };
    class ParallelRun;
    class FileWindow;

    // A runner for one file of a parallel run: a copy of the script, the
    // parent's watermarks and palette, its own window and log.
    BatchRunner(const BatchRunner& parent, CScript& script, BatchWindow& window);

    void beginRun();
    bool loadWatermarks();
    bool scanForOptimumPalette();
    bool openList(std::vector<std::string>* lines, bool wholeList = false);
    // The conversion of the listed files, several at a time.
    void convertInParallel(const std::vector<std::string>& lines, int workers);
    // The input and output paths of a list line.
    void pathsOf(const std::string& line, std::string* input, std::string* output) const;
    FileOutcome processFile(const std::string& line, int i, int n, bool print);
    // The script on one image: false when the user aborted or skipped.
    // *printFailed: a "Print" command of the script failed.
    bool runCommands(KOwnedHandle& dib, const std::string& inputPath, bool* printFailed);
    void afterLoop(bool print);
    void endRun();

    int onProgress(StatusControlBlock* s);
    // Resolves pending Abort and Escape requests with the user.
    void resolveRequests();
    // Starts a file: clears the skip and stop flags unless the run is aborted.
    void resetFileFlags();
    void reportError(const std::string& text);
    void logReadError(KervErrorCode code);
    // The code's text on a line of its own, indented, under a line that
    // only says that something failed.
    void logReason(KervErrorCode code);
    void saveCurrentLog();

    CScript& script_;
    BatchWindow& window_;
    BatchRunState state_;
    AccumulatingPaletteBuilder ownBuilder_;
    OptimumPaletteBuilder* paletteBuilder_;
    BatchLog log_;
    LogFileMirror currentLog_;
    StatusControlBlock status_;
    RunState runState_ = Idle;

    bool stopNow_ = false;
    bool aborted_ = false;
    bool skipped_ = false;
    OverwriteAnswer lastAnswer_ = OverwriteAnswer::Yes;

    std::vector<KOwnedHandle> watermarks_;
    // The watermarks the commands use: this runner's, or a parent's.
    const std::vector<KOwnedHandle>* marks_ = &watermarks_;
    // Called once a file's overwrite question is settled, before anything is
    // written; false stops the file as an abort. A parallel run that can ask
    // questions holds each file here until every earlier file got this far.
    std::function<bool()> beforeWrite_;
    std::array<RGBQUAD, 256> optimumPalette_{};
    int optimumCount_ = 0;

    int fileCount_ = 0;
    int successCount_ = 0;
};

// True when a command's result for one file depends on the files converted
// before it, so that the files must be converted one at a time in list
// order: noise (one random sequence runs on from file to file) and the
// palettes applied to every file ("Apply a New Palette", "Apply Fully
// Optimized Palette", whose colour cache is filled by the files before).
bool ScriptCarriesStateAcrossFiles(const CScript& script);

// Splits a path at its last "/": folder (without the "/"; "." when there is
// none, "/" for the root) and file name.
void SplitPath(const std::string& path, std::string* folder, std::string* name);
