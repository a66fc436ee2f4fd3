// brellix-batch: runs a Brellix script over image files from the command
// line, or lists the script's commands. See docs/console.md.
#include "batch/batch_mode.h"
#include "batch/batch_strings.h"
#include "batch/cmdline.h"
#include "batch/console_window.h"
#include "batch/image_list.h"
#include "batch/runner.h"
#include "batch/startup.h"
#include "core/errors.h"
#include "script/commands.h"
#include "script/script.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#ifndef BRELLIX_VERSION
#define BRELLIX_VERSION "0"
#endif

namespace {

constexpr int kExitError = 2;

void Error(const std::string& text) {
    std::fprintf(stderr, "brellix-batch: %s\n", text.c_str());
}

std::string CurrentFolder() {
    std::error_code ec;
    std::string cwd = std::filesystem::current_path(ec).string();
    return ec ? std::string(".") : cwd;
}

// Without "r": the script's commands with their parameters.
void ListScript(CScript& script, const std::string& path) {
    std::printf("%s\n", FormatString(ids::ConsoleScript, path).c_str());
    if (script.GetCount() == 0) std::printf("  %s\n", LoadString(ids::ConsoleEmptyScript).c_str());
    for (int i = 0; i < script.GetCount(); ++i) {
        const CScriptCommand* c = script.GetCommand(i);
        std::string name = CommandDisplayName(c->m_nID);
        if (name.empty()) name = std::to_string(c->m_nID);
        std::printf("%3d. %s\n", i + 1, name.c_str());
        std::string description;
        script.GetCommandDescription(i, description);
        size_t pos = 0;
        while (pos <= description.size()) {
            size_t end = description.find('\n', pos);
            if (end == std::string::npos) end = description.size();
            const std::string line = description.substr(pos, end - pos);
            if (!line.empty()) std::printf("       %s\n", line.c_str());
            pos = end + 1;
        }
    }
    std::printf("%s\n", LoadString(ids::ConsoleRunHint).c_str());
}

int ListImageList(const std::string& path) {
    std::vector<std::string> paths;
    switch (ReadImageListFile(path, &paths)) {
    case ImageListStatus::Ok:
        break;
    case ImageListStatus::NotAnImageList:
        Error(LoadString(ids::NotAnImageList));
        return kExitError;
    default:
        Error(LoadString(ids::CannotOpenRequested));
        return kExitError;
    }
    std::printf("%s\n", FormatString(ids::ConsoleImageList, path).c_str());
    for (const std::string& p : paths)
        std::printf("  %s\n", p.c_str());
    return 0;
}

int Run(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::printf("%s\n", LoadString(ids::ConsoleUsage).c_str());
        return 0;
    }
    if (args.size() == 1 && args[0] == "--version") {
        std::printf("%s\n", FormatString(ids::ConsoleVersion, BRELLIX_VERSION).c_str());
        return 0;
    }
    CommandLine cl;
    if (!ParseCommandLine(args, &cl)) {
        Error(LoadString(ids::InvalidCommandLine));
        if (cl.lastInvalid == CommandLine::Invalid::SecondSpec)
            Error(LoadString(ids::ConsoleQuoteHint));
        if (cl.lastInvalid == CommandLine::Invalid::BadJobs) Error(LoadString(ids::ConsoleBadJobs));
        if (cl.lastInvalid == CommandLine::Invalid::BadShard) Error(LoadString(ids::ConsoleBadShard));
        return kExitError;
    }
    if (cl.mode == CommandLine::Nothing) {
        std::fprintf(stderr, "%s\n", LoadString(ids::ConsoleUsage).c_str());
        return kExitError;
    }

    StartupInfo info;
    std::string message;
    if (!StartUp(ProgramPath(argv[0]), &info, &message)) {
        Error(message);
        return kExitError;
    }
    struct Shutdown {
        ~Shutdown() { ShutDown(); }
    } shutdown;
    if (info.stateFolder.empty())
        Error(FormatString(ids::ConsoleStateFolder, info.stateFolderError));

    const std::string cwd = CurrentFolder();
    std::string scriptPath = ScriptPathWithExtension(cl.scriptPath);
    if (FILE* f = std::fopen(scriptPath.c_str(), "rb")) {
        std::fclose(f);
    } else {
        Error(FormatString(IDS_SCRIPT_LOAD_FAILED, std::strerror(errno)));
        return kExitError;
    }
    if (scriptPath[0] != '/') scriptPath = cwd + "/" + scriptPath;

    if (IsImageListName(scriptPath)) return ListImageList(scriptPath);

    CScript script;
    if (!script.Load(scriptPath, nullptr, &message)) {
        Error(message);
        return kExitError;
    }
    if (cl.mode != CommandLine::RunRequested) {
        ListScript(script, scriptPath);
        return 0;
    }

    FILE* ttyIn = nullptr;
    FILE* ttyOut = nullptr;
    if (cl.showErrors && isatty(STDIN_FILENO)) {
        ttyIn = std::fopen("/dev/tty", "r");
        ttyOut = std::fopen("/dev/tty", "w");
    }
    if (cl.jobs != 1 && ScriptCarriesStateAcrossFiles(script)) {
        Error(LoadString(ids::ConsoleNoiseOneAtATime));
        cl.jobs = 1;
    }
    ConsoleWindow window(stdout, stderr, ttyIn, ttyOut, isatty(STDERR_FILENO),
                         isatty(STDOUT_FILENO));
    ConsoleWindow::InstallInterruptHandler();
    if (IsPrintScript(script) && !script.FindCommand(CMD_SET_OUTPUT_OPTIONS))
        Error(LoadString(ids::ConsoleNoPrinting));
    const std::string currentLog =
        info.stateFolder.empty() ? "" : info.stateFolder + "/CURRENT.LOG";
    const BatchModeResult r = RunBatchMode(script, cl, window, cwd, currentLog);
    window.finish();
    if (ttyIn) std::fclose(ttyIn);
    if (ttyOut) std::fclose(ttyOut);
    return ExitStatusFor(r);
}

} // namespace

int main(int argc, char** argv) {
    return Run(argc, argv);
}
