#include "batch/batch_log.h"

#include "core/errors.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

void BatchLog::add(const std::string& text) {
    lines_.push_back(text);
    if (onLineAdded) onLineAdded(lines_.back());
}

void BatchLog::addString(int id) {
    std::string text = LoadString(id);
    if (!text.empty()) add(text);
}

void BatchLog::appendToLast(const std::string& text) {
    if (lines_.empty()) {
        add(text);
        return;
    }
    lines_.back() += text;
    if (onLastLineChanged) onLastLineChanged(lines_.back());
}

bool BatchLog::save(const std::string& path, std::string* reason) const {
    std::string data;
    for (const std::string& l : lines_) {
        data += l;
        data += "\r\n";
    }
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        if (reason) *reason = std::strerror(errno);
        return false;
    }
    const char* p = data.data();
    size_t left = data.size();
    int err = 0;
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            err = errno;
            break;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    if (::close(fd) != 0 && err == 0) err = errno;
    if (err != 0) {
        if (reason) *reason = std::strerror(err);
        return false;
    }
    return true;
}

namespace {

// mkdir -p, for the state folder.
bool MakeFolders(const std::string& path, int* err) {
    for (size_t pos = 1; pos <= path.size(); ++pos) {
        if (pos != path.size() && path[pos] != '/') continue;
        const std::string part = path.substr(0, pos);
        if (::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) {
            *err = errno;
            return false;
        }
    }
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        *err = ENOTDIR;
        return false;
    }
    return true;
}

} // namespace

std::string StateFolder(std::string* reason) {
    std::string base;
    if (const char* x = std::getenv("XDG_STATE_HOME"); x && *x == '/') {
        base = x;
    } else if (const char* h = std::getenv("HOME"); h && *h) {
        base = std::string(h) + "/.local/state";
    } else {
        if (reason) *reason = std::strerror(ENOENT);
        return {};
    }
    while (base.size() > 1 && base.back() == '/')
        base.pop_back();
    const std::string folder = base + "/brellix";
    int err = 0;
    if (!MakeFolders(folder, &err)) {
        if (reason) *reason = std::strerror(err);
        return {};
    }
    return folder;
}

std::string CurrentLogPath() {
    const std::string folder = StateFolder();
    return folder.empty() ? std::string() : folder + "/CURRENT.LOG";
}
