#include "batch/runner.h"

#include "batch/batch_strings.h"
#include "batch/image_list.h"
#include "core/kmem.h"
#include "formats/format_table.h"
#include "formats/imagefile.h"
#include "imaging/depth.h"
#include "imaging/dither.h"
#include "imaging/optpal.h"
#include "script/commands.h"
#include "script/script.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <filesystem>
#include <system_error>
#include <thread>

namespace {

// The file is there, as the reader decides it: only "not found" counts as
// missing.
bool PathExists(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) return true;
    return errno != ENOENT && errno != ENOTDIR;
}

std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

// ---- The optimum palette ----

KervErrorCode AccumulatingPaletteBuilder::begin(int colours, int includeWindowsColours, int kind) {
    if (colours < 1 || colours > 256 || (kind != kPaletteMedianCut && kind != kPaletteOctree))
        return KERV_INVALID_PARAM;
    // Above 236 colours the Windows colours find no room and are left out.
    windowsColours_ = includeWindowsColours != 0;
    return BeginOptimizedPalette(static_cast<uint8_t>(kind), static_cast<uint16_t>(colours), 8,
                                 windowsColours_ && colours <= 236);
}

KervErrorCode AccumulatingPaletteBuilder::addImage(KHANDLE dib, StatusControlBlock*) {
    return AddImageToPalette(dib);
}

KervErrorCode AccumulatingPaletteBuilder::finish(RGBQUAD* palette, int* count) {
    const uint16_t n = GenerateOptimizedPalette(palette, windowsColours_);
    if (n == kNoPaletteBegun) return KERV_INVALID_PARAM;
    *count = n;
    return KERV_OK;
}

bool ScriptCarriesStateAcrossFiles(const CScript& script) {
    for (int j = 0; j < script.GetCount(); ++j) {
        const CScriptCommand* c = script.GetCommand(j);
        if (!c) continue;
        if (c->m_nID == CMD_ADD_NOISE || c->m_nID == CMD_OPTIMIZED_PALETTE) return true;
        // Keeping the indexes does not reduce, so uses no cache.
        if (c->m_nID == CMD_APPLY_PALETTE && c->m_nParam[0] != 2) return true;
    }
    return false;
}

void SplitPath(const std::string& path, std::string* folder, std::string* name) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        *folder = ".";
        *name = path;
    } else {
        *folder = slash == 0 ? "/" : path.substr(0, slash);
        *name = path.substr(slash + 1);
    }
}

BatchRunner::BatchRunner(CScript& script, BatchWindow& window, BatchRunState state,
                         OptimumPaletteBuilder* paletteBuilder)
    : script_(script), window_(window), state_(std::move(state)),
      paletteBuilder_(paletteBuilder ? paletteBuilder : &ownBuilder_) {
    log_.onLineAdded = [this](const std::string& l) { window_.logLineAdded(l); };
    log_.onLastLineChanged = [this](const std::string& l) { window_.lastLogLineChanged(l); };
    status_.owner = this;
    status_.progress = [this](StatusControlBlock* s) { return onProgress(s); };
    status_.setStatusText = [this](StatusControlBlock*, const char* text) {
        window_.setMainStatus(text ? text : "");
    };
}

BatchRunner::~BatchRunner() = default;

// ---- Progress, abort and skip ----

int BatchRunner::onProgress(StatusControlBlock* s) {
    window_.setLineProgress(ProgressPercent(*s));
    if (stopNow_) return 1;
    resolveRequests();
    return stopNow_ ? 1 : 0;
}

void BatchRunner::resolveRequests() {
    if (stopNow_) return;
    const UserRequests r = window_.poll();
    if (r.abort) {
        if (window_.confirmAbort()) stopNow_ = aborted_ = true;
    } else if (r.escape) {
        switch (window_.askAbortOrSkip()) {
        case AbortOrSkip::Abort:
            stopNow_ = aborted_ = true;
            break;
        case AbortOrSkip::Skip:
            stopNow_ = skipped_ = true;
            break;
        case AbortOrSkip::Cancel:
            break;
        }
    }
}

void BatchRunner::resetFileFlags() {
    skipped_ = false;
    if (!aborted_) stopNow_ = false;
}

void BatchRunner::reportError(const std::string& text) {
    if (!state_.unattended) window_.showMessage(text, MessageIcon::Error);
}

void BatchRunner::logReadError(KervErrorCode code) {
    reportError(ErrorCodeToText(code));
    switch (code) {
    case KERV_UNKNOWN_FORMAT:
        log_.addString(ids::UnknownFormatSkipped);
        break;
    case KERV_FILE_MISSING:
        log_.addString(ids::MissingSkipped);
        break;
    case KERV_FILE_OPEN:
        log_.addString(ids::UnreadableSkipped);
        break;
    default:
        log_.addString(ids::NotConverted);
        logReason(code);
        break;
    }
}

void BatchRunner::logReason(KervErrorCode code) {
    log_.add("  " + ErrorCodeToText(code));
}

void BatchRunner::saveCurrentLog() {
    if (!state_.currentLogPath.empty()) currentLog_.save(log_, state_.currentLogPath);
}

// ---- The run ----

void BatchRunner::beginRun() {
    runState_ = Running;
    stopNow_ = aborted_ = skipped_ = false;
    lastAnswer_ = OverwriteAnswer::Yes;
    fileCount_ = successCount_ = 0;
    window_.setMainStatus(LoadString(ids::RunningBatch));
    window_.setLineProgressLabel(LoadString(ids::ScriptLineProgress));
}

bool BatchRunner::loadWatermarks() {
    watermarks_.clear();
    std::vector<const CScriptCommand*> marks;
    for (int j = 0; j < script_.GetCount(); ++j)
        if (const CScriptCommand* c = script_.GetCommand(j); c && c->m_nID == CMD_OVERLAY_WATERMARK)
            marks.push_back(c);
    if (marks.empty()) return true;
    window_.setLineProgressLabel(LoadString(ids::LoadingWatermarks));
    for (const CScriptCommand* c : marks) {
        const std::string& path = c->m_strParam[0];
        log_.add(FormatString(ids::LoadingWatermark, path));
        window_.setFileName(BaseName(path));
        resetFileFlags();
        KHANDLE dib = nullptr;
        int format = 0;
        const KervErrorCode code = ReadImageFile(path, &format, &dib, &status_, nullptr);
        KOwnedHandle owned(dib);
        if (!aborted_) resolveRequests();
        if (aborted_) {
            log_.addString(ids::UserAbort);
            return false;
        }
        if (skipped_) {
            log_.addString(ids::UserSkip);
            watermarks_.emplace_back();
            continue;
        }
        if (code != KERV_OK || !owned) {
            log_.addString(ids::WatermarkNotRead);
            logReason(code != KERV_OK ? code : KERV_CORRUPT_FILE);
            watermarks_.emplace_back();
            continue;
        }
        uint16_t w = 0, h = 0, bits = 0;
        uint32_t grey = 0;
        GetDIBStats(owned.get(), &w, &h, &bits, &grey);
        if (bits != 24) {
            KHANDLE raised = nullptr;
            if (const KervErrorCode raise = IncreaseDepthDIB(nullptr, owned.get(), &raised, 24);
                raise != KERV_OK) {
                log_.addString(ids::WatermarkNotRead);
                logReason(raise);
                watermarks_.emplace_back();
                continue;
            }
            owned.reset(raised);
        }
        watermarks_.push_back(std::move(owned));
    }
    window_.setLineProgressLabel(LoadString(ids::ScriptLineProgress));
    window_.setFileName("");
    return true;
}

bool BatchRunner::openList(std::vector<std::string>* lines, bool wholeList) {
    if (!ReadBatchList(state_.batchListPath, state_.headerSkip, lines)) {
        window_.showMessage(LoadString(IsTemporaryListName(state_.batchListPath)
                                           ? ids::TempFileFailed
                                           : ids::CannotOpenList),
                            MessageIcon::Exclamation);
        return false;
    }
    if (!wholeList && state_.shardCount > 1) {
        std::vector<std::string> mine;
        for (size_t i = static_cast<size_t>(state_.shardIndex); i < lines->size();
             i += static_cast<size_t>(state_.shardCount))
            mine.push_back(std::move((*lines)[i]));
        *lines = std::move(mine);
    }
    return true;
}

bool BatchRunner::scanForOptimumPalette() {
    const CScriptCommand* c = script_.FindCommand(CMD_OPTIMIZED_PALETTE);
    if (!c) return true;
    log_.addString(ids::GatheringPalette);
    // The palette is the whole batch's, also for a run that converts a share of it.
    std::vector<std::string> lines;
    if (!openList(&lines, /*wholeList=*/true)) return false;
    runState_ = Scanning;
    const int colours =
        ParamOr(c->m_nParam[0], IntSlotDefault(CMD_OPTIMIZED_PALETTE, Slot::P0, 256));
    if (const KervErrorCode code =
            paletteBuilder_->begin(colours, ParamOr(c->m_nParam[1], 0), ParamOr(c->m_nParam[4], 0));
        code != KERV_OK) {
        const std::string text = ErrorCodeToText(code);
        reportError(text);
        log_.add(text);
        runState_ = Running;
        return false;
    }
    const int n = static_cast<int>(lines.size());
    window_.setJobRange(n);
    for (int i = 0; i < n; ++i) {
        resetFileFlags();
        const std::string path =
            state_.listMode == 1 ? lines[i] : state_.inputFolder + "/" + lines[i];
        window_.setFileName(BaseName(path));
        log_.add(LoadString(ids::Scanning) + path);
        window_.setCounterText(FormatString(ids::ScanningFile, i + 1, n));
        window_.setTitle(LoadString(ids::GeneratingOptimum));
        KHANDLE dib = nullptr;
        int format = 0;
        const KervErrorCode code = ReadImageFile(path, &format, &dib, &status_, nullptr);
        KOwnedHandle owned(dib);
        if (!aborted_) resolveRequests();
        if (aborted_) {
            log_.addString(ids::UserAbort);
            runState_ = Running;
            return false;
        }
        if (skipped_) {
            log_.addString(ids::UserSkip);
        } else if (code != KERV_OK) {
            logReadError(code);
        } else {
            paletteBuilder_->addImage(owned.get(), &status_);
        }
        window_.setJobPosition(i + 1);
    }
    log_.addString(ids::GeneratingPalette);
    int count = 0;
    const KervErrorCode code = paletteBuilder_->finish(optimumPalette_.data(), &count);
    runState_ = Running;
    if (code != KERV_OK) return false;
    optimumCount_ = count;
    log_.appendToLast(FormatString(ids::ColorsFound, count));
    return true;
}

bool BatchRunner::runCommands(KOwnedHandle& dib, const std::string& inputPath, bool* printFailed) {
    *printFailed = false;
    log_.addString(ids::ExecutingCommands);
    const int m = script_.GetCount();
    size_t nextMark = 0;
    for (int j = 0; j < m; ++j) {
        const CScriptCommand* c = script_.GetCommand(j);
        window_.selectScriptLine(j);
        KHANDLE mark = nullptr;
        if (c && c->m_nID == CMD_OVERLAY_WATERMARK) {
            if (nextMark < marks_->size()) mark = (*marks_)[nextMark].get();
            ++nextMark;
        }
        const std::string step = FormatString(ids::ExecutingLine, j + 1, m);
        log_.add(step);
        window_.setStepText(step);
        status_.current = status_.total = status_.pass = status_.passCount = 0;
        KHANDLE result = nullptr;
        const KervErrorCode code =
            script_.DoCommand(j, dib.get(), &result, mark, inputPath, &status_,
                              optimumCount_ > 0 ? optimumPalette_.data() : nullptr, optimumCount_);
        KOwnedHandle made(result);
        if (!aborted_ && !skipped_) resolveRequests();
        if (aborted_ || skipped_) return false;
        if (code != KERV_OK) {
            const std::string text = LoadString(IDS_SCRIPT_LINE_ERROR);
            const std::string line = FormatText(text, {j + 1}) + ErrorCodeToText(code);
            log_.add(line);
            reportError(line);
            if (c && c->m_nID == CMD_PRINT) *printFailed = true;
            continue;
        }
        if (made) dib = std::move(made);
    }
    return true;
}

void BatchRunner::pathsOf(const std::string& line, std::string* input, std::string* output) const {
    std::string inputFolder, name;
    *input = state_.listMode == 1 ? line : state_.inputFolder + "/" + line;
    SplitPath(*input, &inputFolder, &name);
    if (!output) return;
    std::string folder = state_.output.retainDirectory ? inputFolder : state_.output.folder;
    if (folder.empty() || folder.back() != '/') folder += '/';
    *output = folder + name;
    MakeOutputFileName(output, state_.output.id, false);
}

BatchRunner::FileOutcome BatchRunner::processFile(const std::string& line, int i, int n,
                                                  bool print) {
    resetFileFlags();
    std::string inputPath, outputPath;
    pathsOf(line, &inputPath, print ? nullptr : &outputPath);
    window_.setFileName(BaseName(inputPath));

    window_.setCounterText(FormatString(ids::ProcessingFile, i, n));
    window_.setTitle(FormatString(ids::ConversionTitle, i, n));
    log_.add(LoadString(ids::Reading) + inputPath);
    window_.setStepText(LoadString(ids::Reading));

    ImageFileInfo info;
    KHANDLE read = nullptr;
    int format = 0;
    const KervErrorCode readCode = ReadImageFile(inputPath, &format, &read, &status_, &info);
    KOwnedHandle dib(read);
    if (!aborted_ && !skipped_) resolveRequests();
    if (aborted_) {
        log_.addString(ids::UserAbort);
        return FileOutcome::Abort;
    }
    if (skipped_) {
        log_.addString(ids::UserSkip);
        return FileOutcome::NotDone;
    }
    if (readCode != KERV_OK || !dib) {
        logReadError(readCode != KERV_OK ? readCode : KERV_INVALID_PARAM);
        return FileOutcome::NotDone;
    }

    OutputOptions options = state_.output.options;
    options.sourceInfo = &info;
    if (options.transparencyType == 0 && info.transparentIndex != KERV_NO_TRANSPARENCY)
        options.transparencyIndex = info.transparentIndex;

    bool printFailed = false;
    const bool completed = runCommands(dib, inputPath, &printFailed);
    if (aborted_) {
        log_.addString(ids::UserAbort);
        return FileOutcome::Abort;
    }
    if (!completed) {
        log_.addString(ids::UserSkip);
        return FileOutcome::NotDone;
    }
    log_.addString(ids::ScriptComplete);
    // A page that failed to print is not counted as printed.
    if (print) return printFailed ? FileOutcome::NotDone : FileOutcome::Done;

    window_.setStepText(LoadString(ids::WritingFile));
    log_.add(LoadString(ids::Saving) + outputPath);

    if (PathExists(outputPath)) {
        OverwriteAnswer answer = lastAnswer_;
        if (!state_.unattended && lastAnswer_ != OverwriteAnswer::YesAll &&
            lastAnswer_ != OverwriteAnswer::NoAll) {
            answer = window_.askOverwrite(FormatString(ids::OverwriteQuestion, outputPath));
            lastAnswer_ = answer;
        }
        if (answer == OverwriteAnswer::Cancel) {
            aborted_ = stopNow_ = true;
            log_.addString(ids::UserAbort);
            return FileOutcome::Abort;
        }
        if (answer == OverwriteAnswer::No || answer == OverwriteAnswer::NoAll) {
            log_.addString(ids::NotOverwriting);
            window_.setJobPosition(i);
            return FileOutcome::NotDone;
        }
        log_.addString(ids::Overwriting);
    }

    if (beforeWrite_ && !beforeWrite_()) {
        aborted_ = stopNow_ = true;
        log_.addString(ids::UserAbort);
        return FileOutcome::Abort;
    }

    if (const int msg =
            CheckOutputCompatibility(state_.output.id, state_.output.subType, dib.get());
        msg != 0) {
        const std::string text = LoadString(msg);
        reportError(text);
        log_.add(text);
        window_.setJobPosition(i);
        return FileOutcome::NotDone;
    }

    window_.setStepText(LoadString(ids::Saving));
    // A missing output folder is made; if that fails the writer reports it.
    std::string outFolder, outName;
    SplitPath(outputPath, &outFolder, &outName);
    std::error_code ec;
    std::filesystem::create_directories(outFolder, ec);
    const KervErrorCode writeCode = WriteImageFile(outputPath, dib.get(), state_.output.id,
                                                   state_.output.subType, options, &status_);
    dib.reset();
    window_.setJobPosition(i);
    if (!aborted_ && !skipped_) resolveRequests();
    if (aborted_) {
        // A file finished just before the abort is complete: it counts.
        log_.addString(ids::UserAbort);
        return writeCode == KERV_OK ? FileOutcome::DoneThenAbort : FileOutcome::Abort;
    }
    if (skipped_ && writeCode != KERV_OK) {
        log_.addString(ids::UserSkip);
        return FileOutcome::NotDone;
    }
    if (writeCode != KERV_OK) {
        const std::string text = ErrorCodeToText(writeCode);
        log_.add(text);
        reportError(text);
        return FileOutcome::NotDone;
    }
    return FileOutcome::Done;
}

void BatchRunner::afterLoop(bool print) {
    window_.setFileName("");
    window_.setJobPosition(fileCount_);
    watermarks_.clear();
    window_.setCounterText(LoadString(ids::ProcessingComplete));
    window_.setStepText("");
    log_.addString(ids::BatchComplete);
    const std::string count = FormatString(ids::CountFormat, successCount_) +
                              LoadString(print ? ids::FilesPrinted : ids::FilesConverted);
    log_.add(count);
    window_.setTitle(count);
    window_.finish();
}

void BatchRunner::endRun() {
    watermarks_.clear();
    // The reduction's colour cache served this run's palettes only.
    ReleaseDitherCache();
    // So did the freed image blocks kept for the next file: a desktop
    // program left open after the run should not hold on to them.
    KML_ReleaseKept();
    if (state_.deleteListAfterRun) ::unlink(state_.batchListPath.c_str());
    // The log of an aborted run is kept too.
    saveCurrentLog();
    if (state_.commandLineMode == 2 && !state_.logPath.empty()) {
        std::string reason;
        if (!log_.save(state_.logPath, &reason))
            window_.showMessage(FormatString(ids::LogNotSaved, reason), MessageIcon::Error);
    }
    window_.setMainStatus(LoadString(ids::ProcessComplete));
    if (state_.commandLineMode != 2 || state_.keepOpen) window_.waitUntilClosed();
    runState_ = Idle;
    window_.setMainStatus(LoadString(ids::Ready));
}

int BatchRunner::RunConversion() {
    beginRun();
    if (!loadWatermarks() || !scanForOptimumPalette()) {
        endRun();
        return 1;
    }
    std::vector<std::string> lines;
    if (!openList(&lines)) {
        if (state_.deleteListAfterRun) ::unlink(state_.batchListPath.c_str());
        watermarks_.clear();
        runState_ = Idle;
        return 0;
    }
    fileCount_ = static_cast<int>(lines.size());
    window_.setJobRange(fileCount_);
    window_.setJobPosition(0);
    int workers = state_.jobs == 0 ? int(std::max(1u, std::thread::hardware_concurrency()))
                                   : std::max(1, state_.jobs);
    workers = std::min(workers, fileCount_);
    if (ScriptCarriesStateAcrossFiles(script_)) workers = 1;
    if (workers > 1) {
        convertInParallel(lines, workers);
        if (!aborted_) afterLoop(false);
        endRun();
        return 1;
    }
    for (int i = 0; i < fileCount_; ++i) {
        const FileOutcome r = processFile(lines[i], i + 1, fileCount_, false);
        if (r == FileOutcome::Done || r == FileOutcome::DoneThenAbort) ++successCount_;
        saveCurrentLog();
        if (r == FileOutcome::Abort || r == FileOutcome::DoneThenAbort) {
            endRun();
            return 1;
        }
    }
    afterLoop(false);
    endRun();
    return 1;
}

int BatchRunner::RunPrint() {
    beginRun();
    std::vector<std::string> lines;
    if (!openList(&lines)) {
        if (state_.deleteListAfterRun) ::unlink(state_.batchListPath.c_str());
        runState_ = Idle;
        return 0;
    }
    fileCount_ = static_cast<int>(lines.size());
    window_.setJobRange(fileCount_);
    window_.setJobPosition(0);
    for (int i = 0; i < fileCount_; ++i) {
        const FileOutcome r = processFile(lines[i], i + 1, fileCount_, true);
        if (r == FileOutcome::Done) ++successCount_;
        window_.setJobPosition(i + 1);
        saveCurrentLog();
        if (r == FileOutcome::Abort) {
            endRun();
            return 1;
        }
    }
    afterLoop(true);
    endRun();
    return 1;
}
