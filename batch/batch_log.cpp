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

namespace {

std::string Joined(const std::vector<std::string>& lines, size_t from) {
    std::string data;
    for (size_t i = from; i < lines.size(); ++i) {
        data += lines[i];
        data += "\r\n";
    }
    return data;
}

// Writes all of data at offset; 0 or the errno.
int WriteAllAt(int fd, const std::string& data, off_t offset) {
    const char* p = data.data();
    size_t left = data.size();
    while (left > 0) {
        const ssize_t n = ::pwrite(fd, p, left, offset);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        p += n;
        offset += n;
        left -= static_cast<size_t>(n);
    }
    return 0;
}

bool Failed(int err, std::string* reason) {
    if (err == 0) return false;
    if (reason) *reason = std::strerror(err);
    return true;
}

} // namespace

bool BatchLog::save(const std::string& path, std::string* reason) const {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return !Failed(errno, reason);
    int err = WriteAllAt(fd, Joined(lines_, 0), 0);
    if (::close(fd) != 0 && err == 0) err = errno;
    return !Failed(err, reason);
}

LogFileMirror::~LogFileMirror() { close(); }

void LogFileMirror::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    path_.clear();
}

bool LogFileMirror::stillOurs(const std::string& path) const {
    struct stat open, named;
    return fd_ >= 0 && path == path_ && ::fstat(fd_, &open) == 0 && open.st_nlink > 0 &&
           open.st_size == bytes_ && ::stat(path.c_str(), &named) == 0 &&
           named.st_dev == open.st_dev && named.st_ino == open.st_ino;
}

bool LogFileMirror::rewrite(const BatchLog& log, const std::string& path, std::string* reason) {
    close();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return !Failed(errno, reason);
    const std::string data = Joined(log.lines(), 0);
    if (const int err = WriteAllAt(fd, data, 0); err != 0) {
        ::close(fd);
        return !Failed(err, reason);
    }
    fd_ = fd;
    path_ = path;
    clears_ = log.clears();
    lines_ = log.lines().size();
    lastSize_ = lines_ == 0 ? 0 : log.lines().back().size();
    bytes_ = static_cast<long long>(data.size());
    return true;
}

bool LogFileMirror::save(const BatchLog& log, const std::string& path, std::string* reason) {
    const std::vector<std::string>& lines = log.lines();
    if (!stillOurs(path) || log.clears() != clears_ || lines.size() < lines_)
        return rewrite(log, path, reason);
    // Only the last line can change once written, and only by growing.
    size_t from = lines_;
    long long at = bytes_;
    if (lines_ > 0 && lines[lines_ - 1].size() != lastSize_) {
        if (lines[lines_ - 1].size() < lastSize_) return rewrite(log, path, reason);
        --from;
        at -= static_cast<long long>(lastSize_ + 2);
    }
    const std::string data = Joined(lines, from);
    if (const int err = WriteAllAt(fd_, data, static_cast<off_t>(at)); err != 0) {
        close(); // the next save starts over
        return !Failed(err, reason);
    }
    lines_ = lines.size();
    lastSize_ = lines_ == 0 ? 0 : lines.back().size();
    bytes_ = at + static_cast<long long>(data.size());
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
