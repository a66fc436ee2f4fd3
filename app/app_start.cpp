#include "app/app_start.h"

#include "script/commands.h"
#include "script/script.h"
#include "core/settings.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

int StoredScreenDepth(int bitsPerPixel) {
    return bitsPerPixel > 8 ? 24 : bitsPerPixel;
}

bool IsFolderWritable(const std::string& folder) {
    if (folder.empty()) return false;
    const std::string probe = folder + (folder.back() == '/' ? "" : "/") + "WRITE.TST";
    const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    ::close(fd);
    return ::unlink(probe.c_str()) == 0;
}

UserFolder CheckUserFolder(SettingsStore& store) {
    UserFolder result;
    result.configured = store.Get(setting::UserDirectory);
    result.folder = result.configured;
    const std::string home = HomeFolder();
    if (!IsFolderWritable(result.folder)) {
        result.fellBack = true;
        result.folder = home;
        return result;
    }
    std::string trimmed = result.folder;
    while (trimmed.size() > 1 && trimmed.back() == '/')
        trimmed.pop_back();
    if (trimmed != home) store.Set(setting::UserDirectory, trimmed + "/");
    return result;
}

bool PrepareCommandLineScript(CommandLine* cl, const std::string& currentFolder,
                              std::string* message) {
    std::string path = ScriptPathWithExtension(cl->scriptPath);
    if (path[0] != '/') path = currentFolder + "/" + path;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        std::fclose(f);
    } else {
        *message = FormatString(IDS_SCRIPT_LOAD_FAILED, std::strerror(errno));
        return false;
    }
    cl->scriptPath = path;
    return true;
}
