#include "batch/batch_mode.h"

#include "batch/batch_strings.h"
#include "batch/image_list.h"
#include "batch/runner.h"
#include "core/settings.h"
#include "script/commands.h"
#include "script/script.h"

#include <unistd.h>

namespace {

std::string Absolute(const std::string& path, const std::string& base) {
    if (!path.empty() && path[0] == '/') return path;
    if (path.empty() || path == ".") return base;
    std::string p = path;
    if (p.rfind("./", 0) == 0) p = p.substr(2);
    return base == "/" ? "/" + p : base + "/" + p;
}

} // namespace

int ExitStatusFor(const BatchModeResult& r) {
    if (r.outcome != BatchModeResult::Ran) return 2;
    if (r.aborted) return 130;
    return r.done == r.files ? 0 : 1;
}

void ResolveInputPattern(const std::string& input, const std::string& currentFolder,
                      std::string* folder, std::string* pattern) {
    const size_t slash = input.find_last_of('/');
    if (slash == std::string::npos) {
        *folder = currentFolder;
        *pattern = input;
        return;
    }
    *folder = slash == 0 ? "/" : Absolute(input.substr(0, slash), currentFolder);
    *pattern = input.substr(slash + 1);
}

BatchModeResult RunBatchMode(CScript& script, const CommandLine& cl, BatchWindow& window,
                             const std::string& currentFolder, const std::string& currentLogPath,
                             OptimumPaletteBuilder* paletteBuilder) {
    BatchModeResult result;
    BatchRunState state;
    state.unattended = !cl.showErrors;
    state.commandLineMode = 2;
    state.keepOpen = cl.keepOpen;
    state.logPath = cl.logPath.empty() ? std::string() : Absolute(cl.logPath, currentFolder);
    state.currentLogPath = currentLogPath;
    state.jobs = cl.jobs;
    state.shardIndex = cl.shardIndex;
    state.shardCount = cl.shardCount;
    const std::string input = cl.allFiles ? std::string("*.*") : cl.inputSpec;

    auto fail = [&](const std::string& text) {
        window.showMessage(text, MessageIcon::Error);
        return result;
    };
    // The pattern's list, or the image list with its header line.
    auto listFromPatternOrImageList = [&]() -> bool {
        if (!input.empty()) {
            std::string folder, pattern;
            ResolveInputPattern(input, currentFolder, &folder, &pattern);
            state.batchListPath = MakeTemporaryBatchListFromPattern(folder, pattern);
            if (state.batchListPath.empty()) {
                window.showMessage(LoadString(ids::TempFileFailed), MessageIcon::Exclamation);
                return false;
            }
            state.listMode = 0;
            state.inputFolder = folder;
            state.deleteListAfterRun = true;
            return true;
        }
        if (!cl.imageListPath.empty()) {
            state.batchListPath = Absolute(cl.imageListPath, currentFolder);
            state.listMode = 1;
            state.headerSkip = true;
            return true;
        }
        window.showMessage(ErrorCodeToText(KERV_INVALID_PARAM), MessageIcon::Error);
        return false;
    };

    const CScriptCommand* out = script.FindCommand(CMD_SET_OUTPUT_OPTIONS);
    if (!out) {
        if (!IsPrintScript(script)) return fail(LoadString(IDS_NO_OUTPUT_OPTIONS));
        if (!listFromPatternOrImageList()) return result;
        result.print = true;
        BatchRunner runner(script, window, state, nullptr);
        if (!runner.RunPrint()) {
            result.outcome = BatchModeResult::ListNotOpened;
            return result;
        }
        result.outcome = BatchModeResult::Ran;
        result.files = runner.fileCount();
        result.done = runner.successCount();
        result.aborted = runner.aborted();
        return result;
    }

    state.output = OutputSettingsFromCommand(*out, currentFolder);
    WriteScriptRunValues(AppSettings(), state.output.options);
    AppSettings().Save();

    if (const CScriptCommand* in = script.FindCommand(CMD_SET_INPUT_OPTIONS)) {
        const std::string listPath = Absolute(in->m_strParam[0], currentFolder);
        if (in->m_strParam[0].empty()) return fail(LoadString(ids::ListRequired));
        std::string contents;
        switch (LoadImageListForRun(listPath, &contents)) {
        case ImageListStatus::Ok:
            break;
        case ImageListStatus::TooLarge:
            return fail(FormatString(ids::ListTooLarge, listPath, kMaxImageListKB));
        default:
            return fail(FormatString(ids::ListCannotOpen, listPath));
        }
        state.batchListPath = MakeTemporaryBatchList(contents);
        if (state.batchListPath.empty()) {
            window.showMessage(LoadString(ids::TempFileFailed), MessageIcon::Exclamation);
            return result;
        }
        state.listMode = 1;
        state.deleteListAfterRun = true;
        state.unattended = in->m_nParam[0] == 0;
    } else if (!listFromPatternOrImageList()) {
        return result;
    }

    BatchRunner runner(script, window, state, paletteBuilder);
    if (!runner.RunConversion()) {
        result.outcome = BatchModeResult::ListNotOpened;
        return result;
    }
    result.outcome = BatchModeResult::Ran;
    result.files = runner.fileCount();
    result.done = runner.successCount();
    result.aborted = runner.aborted();
    return result;
}
