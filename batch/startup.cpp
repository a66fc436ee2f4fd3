#include "batch/startup.h"

#include "batch/batch_log.h"
#include "batch/batch_strings.h"
#include "core/dib.h"
#include "core/errors.h"
#include "core/kmem.h"
#include "core/settings.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

std::string ProgramPath(const char* argv0) {
    std::error_code ec;
    fs::path p = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) return p.string();
    return argv0 ? argv0 : "";
}

std::string DataFolder(const std::string& exePath) {
    if (const char* d = std::getenv("BRELLIX_DATA_DIR"); d && *d) return d;
    std::error_code ec;
    const fs::path installed = fs::path(exePath).parent_path() / ".." / "share" / "brellix";
    if (fs::is_directory(installed, ec)) return fs::weakly_canonical(installed, ec).string();
    return BuildDataFolder();
}

bool StartUp(const std::string& exePath, StartupInfo* info, std::string* message) {
    if (!KMemCheckVersion(2, 1, 0, 5, false)) {
        *message = LoadString(ids::ConsoleBadVersion) + "\n" + ErrorCodeToText(KERV_BAD_VERSION);
        return false;
    }
    SettingsStore& settings = AppSettings();
    KML_Initialize(0, true, static_cast<unsigned long>(settings.Get(setting::MemoryThreshhold)));
    // Also seeds the random generator and draws the noise table from it, so
    // the noise a script adds is the same on every run. A failure here only
    // costs the compositing tables; nothing else depends on them.
    InitBlendTables();
    info->dataFolder = DataFolder(exePath);
    // The layers below find their data through the same variable.
    if (!info->dataFolder.empty()) setenv("BRELLIX_DATA_DIR", info->dataFolder.c_str(), 0);
    info->stateFolder = StateFolder(&info->stateFolderError);
    return true;
}

void ShutDown() {
    FreeBlendTables();
    KML_ShutDown();
}
