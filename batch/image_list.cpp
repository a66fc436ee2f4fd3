#include "batch/image_list.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace {

bool ReadWholeFile(const std::string& path, std::string* out, size_t limit = SIZE_MAX) {
    std::ifstream f(path, std::ios::binary);
    if (!f) return false;
    out->clear();
    char buf[65536];
    while (out->size() < limit && f) {
        f.read(buf, static_cast<std::streamsize>(std::min(sizeof buf, limit - out->size())));
        out->append(buf, static_cast<size_t>(f.gcount()));
    }
    return !f.bad();
}

// Lines of an image list file (CR LF or LF), stopping at the first empty one.
std::vector<std::string> TextLines(std::string_view text) {
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) break;
        lines.emplace_back(line);
        pos = end + 1;
    }
    return lines;
}

// Length of the first line with its line end.
size_t HeaderLength(std::string_view text) {
    size_t end = text.find('\n');
    return end == std::string_view::npos ? text.size() : end + 1;
}

bool IsHeaderLine(std::string_view text) {
    std::string_view first = text.substr(0, text.find('\n'));
    if (!first.empty() && first.back() == '\r') first.remove_suffix(1);
    return first == "BRL";
}

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// A new file in the temporary folder, "tmpbrlXXXXXX.tmp", holding data.
std::string WriteTemporary(std::string_view data) {
    std::string tmpl = TemporaryFolder() + "/tmpbrlXXXXXX.tmp";
    int fd = ::mkstemps(tmpl.data(), 4);
    if (fd < 0) return {};
    const bool ok = WriteAll(fd, data);
    if (::close(fd) != 0 || !ok) {
        ::unlink(tmpl.c_str());
        return {};
    }
    return tmpl;
}

char Lower(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

} // namespace

ImageListStatus ReadImageListFile(const std::string& path, std::vector<std::string>* paths) {
    std::string text;
    if (!ReadWholeFile(path, &text)) return ImageListStatus::CannotOpen;
    if (!IsHeaderLine(text)) return ImageListStatus::NotAnImageList;
    *paths = TextLines(std::string_view(text).substr(HeaderLength(text)));
    return ImageListStatus::Ok;
}

ImageListStatus WriteImageListFile(const std::string& path, const std::vector<std::string>& paths) {
    if (paths.empty()) return ImageListStatus::Ok;
    std::string text = "BRL\r\n";
    for (const std::string& p : paths)
        text += p + "\r\n";
    const std::string tmp = path + ".tmp";
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return ImageListStatus::WriteFailed;
    const bool ok = WriteAll(fd, text);
    if (::close(fd) != 0 || !ok || std::rename(tmp.c_str(), path.c_str()) != 0) {
        ::unlink(tmp.c_str());
        return ImageListStatus::WriteFailed;
    }
    return ImageListStatus::Ok;
}

ImageListStatus LoadImageListForRun(const std::string& path, std::string* contents) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return ImageListStatus::CannotOpen;
    if (static_cast<uint64_t>(st.st_size) > kMaxImageListBytes) return ImageListStatus::TooLarge;
    std::string text;
    if (!ReadWholeFile(path, &text, kMaxImageListBytes)) return ImageListStatus::CannotOpen;
    // The header line is skipped whatever its line end, so an LF-only list
    // does not lose the first character of its first path.
    contents->assign(IsHeaderLine(text) ? text.substr(HeaderLength(text)) : text);
    return ImageListStatus::Ok;
}

std::vector<std::string> SplitBatchList(std::string_view text, bool headerSkip) {
    std::vector<std::string> lines;
    size_t pos = 0;
    bool first = true;
    while (pos < text.size()) {
        size_t end = text.find_first_of(std::string_view("\n\0", 2), pos);
        if (end == std::string_view::npos) end = text.size();
        std::string line;
        line.reserve(end - pos);
        for (size_t i = pos; i < end; ++i)
            if (text[i] != '\r') line += text[i];
        pos = end + 1;
        if (line.empty()) break;
        if (first && headerSkip && line == "BRL") {
            first = false;
            continue;
        }
        first = false;
        lines.push_back(std::move(line));
    }
    return lines;
}

bool ReadBatchList(const std::string& path, bool headerSkip, std::vector<std::string>* lines) {
    std::string text;
    if (!ReadWholeFile(path, &text)) return false;
    *lines = SplitBatchList(text, headerSkip);
    return true;
}

std::string TemporaryFolder() {
    const char* t = std::getenv("TMPDIR");
    std::string dir = (t && *t) ? t : "/tmp";
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    return dir;
}

bool IsTemporaryListName(std::string_view path) {
    if (path.size() < 3) return false;
    std::string_view end = path.substr(path.size() - 3);
    return Lower(end[0]) == 't' && Lower(end[1]) == 'm' && Lower(end[2]) == 'p';
}

std::string MakeTemporaryBatchList(std::string_view text) {
    return WriteTemporary(text);
}

std::vector<std::string> MatchingFiles(const std::string& folder, std::string_view pattern) {
    const std::string dirPath = folder.empty() ? "." : folder;
    DIR* d = ::opendir(dirPath.c_str());
    std::vector<std::string> names;
    if (!d) return names;
    while (dirent* e = ::readdir(d)) {
        std::string_view name = e->d_name;
        if (name.empty() || name[0] == '.') continue;
        if (name.find_first_of("\r\n") != std::string_view::npos) continue;
        if (!MatchesPattern(name, pattern)) continue;
        struct stat st;
        const std::string full = dirPath + "/" + std::string(name);
        if (::stat(full.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        names.emplace_back(name);
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

std::string MakeTemporaryBatchListFromPattern(const std::string& folder, std::string_view pattern) {
    // A folder that cannot be searched gives an empty list, as a pattern
    // matching nothing does: the run then converts no file.
    std::string data;
    for (const std::string& n : MatchingFiles(folder, pattern)) {
        data += n;
        data += '\0';
    }
    return WriteTemporary(data);
}

bool MatchesPattern(std::string_view name, std::string_view pattern) {
    if (pattern == "*.*") return true;
    size_t n = 0, p = 0, starP = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || Lower(pattern[p]) == Lower(name[n]))) {
            ++n, ++p;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}
