#include "batch/image_list_model.h"

#include "core/settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <numeric>
#include <unordered_set>

namespace {

bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

// A folder text written on Windows: no "/" in it, but a "\" or a drive.
bool IsWindowsFolder(std::string_view folder) {
    return folder.find('/') == std::string_view::npos &&
           folder.find_first_of("\\:") != std::string_view::npos;
}

bool IsDriveLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// Equal without case: the key of the duplicate rule.
std::string DuplicateKey(std::string_view folder, std::string_view name) {
    std::string key = Lower(folder);
    key += '\0';
    key += Lower(name);
    return key;
}

int CompareNoCase(std::string_view a, std::string_view b) {
    const std::string la = Lower(a), lb = Lower(b);
    return la < lb ? -1 : (lb < la ? 1 : 0);
}

} // namespace

ImagePath SplitImagePath(std::string_view path) {
    size_t cut = path.rfind('/');
    if (cut != std::string_view::npos) {
        std::string folder(path.substr(0, cut));
        if (folder.empty()) folder = "/";
        return {std::move(folder), std::string(path.substr(cut + 1))};
    }
    cut = path.rfind('\\');
    if (cut == std::string_view::npos && path.size() >= 2 && path[1] == ':' &&
        IsDriveLetter(path[0]))
        cut = 1;
    if (cut == std::string_view::npos) return {".", std::string(path)};
    std::string folder(path.substr(0, cut + (path[cut] == ':' ? 1 : 0)));
    if (folder.size() == 2 && folder[1] == ':' && IsDriveLetter(folder[0])) folder += '\\';
    if (folder.empty()) folder = "\\";
    return {std::move(folder), std::string(path.substr(cut + 1))};
}

std::string JoinImagePath(std::string_view folder, std::string_view name) {
    // A path without folder is written as it came.
    if (folder == ".") return std::string(name);
    std::string path(folder);
    if (IsWindowsFolder(folder)) {
        if (path.back() != '\\') path += '\\';
    } else if (path.empty() || path.back() != '/') {
        path += '/';
    }
    path += name;
    return path;
}

// ---- ImageListModel ----

std::string ImageListModel::PathOf(size_t item) const {
    const Item& it = items_[item];
    return JoinImagePath(folders_[it.folder].text, it.name);
}

std::vector<std::string> ImageListModel::Paths() const {
    std::vector<std::string> paths;
    paths.reserve(items_.size());
    for (size_t i = 0; i < items_.size(); ++i)
        paths.push_back(PathOf(i));
    return paths;
}

void ImageListModel::Clear() {
    *this = ImageListModel{};
}

size_t ImageListModel::FolderFor(const std::string& text) {
    // Lists hold a handful of folders, so a walk beats keeping an index.
    for (size_t f = folders_.size(); f-- > 0;)
        if (folders_[f].text == text) return f;
    folders_.push_back(Folder{text, 0, false, false});
    return folders_.size() - 1;
}

size_t ImageListModel::Add(const std::vector<std::string>& paths, bool skipDuplicates) {
    std::unordered_set<std::string> seen;
    if (skipDuplicates)
        for (const Item& it : items_)
            seen.insert(DuplicateKey(folders_[it.folder].text, it.name));
    size_t added = 0;
    for (const std::string& p : paths) {
        if (p.empty() || p.find_first_of("\r\n") != std::string::npos) continue;
        ImagePath split = SplitImagePath(p);
        if (skipDuplicates && !seen.insert(DuplicateKey(split.folder, split.name)).second) continue;
        const size_t f = FolderFor(split.folder);
        ++folders_[f].count;
        items_.push_back(Item{std::move(split.name), f});
        ++added;
    }
    if (added) modified_ = true;
    return added;
}

void ImageListModel::Remove(std::vector<size_t> rows) {
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    size_t removed = 0;
    for (auto r = rows.rbegin(); r != rows.rend(); ++r)
        if (*r < items_.size()) {
            items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(*r));
            ++removed;
        }
    if (!removed) return;
    modified_ = true;
    Compact();
}

ImageListStatus ImageListModel::Open(const std::string& path) {
    std::vector<std::string> paths;
    const ImageListStatus s = ReadImageListFile(path, &paths);
    if (s != ImageListStatus::Ok) return s;
    ImageListModel fresh;
    fresh.Add(paths, false);
    fresh.fileName_ = path;
    fresh.modified_ = false;
    *this = std::move(fresh);
    return s;
}

ImageListStatus ImageListModel::Import(const std::string& path, size_t* added) {
    std::vector<std::string> paths;
    const ImageListStatus s = ReadImageListFile(path, &paths);
    const size_t n = s == ImageListStatus::Ok ? Add(paths, true) : 0;
    if (added) *added = n;
    return s;
}

ImageListStatus ImageListModel::Save(const std::string& path) {
    const ImageListStatus s = WriteImageListFile(path, Paths());
    if (s != ImageListStatus::Ok) return s;
    fileName_ = path;
    modified_ = false;
    return s;
}

void ImageListModel::Sort(SortKey key, bool descending) {
    auto compare = [&](const Item& a, const Item& b) {
        const std::string_view fa = folders_[a.folder].text, fb = folders_[b.folder].text;
        int c = key == SortKey::Name ? CompareNoCase(a.name, b.name) : CompareNoCase(fa, fb);
        if (c == 0) c = key == SortKey::Name ? CompareNoCase(fa, fb) : CompareNoCase(a.name, b.name);
        return descending ? c > 0 : c < 0;
    };
    std::stable_sort(items_.begin(), items_.end(), compare);
}

void ImageListModel::ClearMarks() {
    for (Folder& f : folders_)
        f.checked = f.ignored = false;
}

bool ImageListModel::IsAtOrBelow(std::string_view text, std::string_view root) {
    if (text.size() < root.size() || text.substr(0, root.size()) != root) return false;
    if (text.size() == root.size()) return true;
    return IsSeparator(root.back()) || IsSeparator(text[root.size()]);
}

size_t ImageListModel::ChangeFolder(size_t f, std::string_view newRoot) {
    const std::string old = folders_[f].text;
    const bool toSlashes = IsWindowsFolder(old) && !IsWindowsFolder(newRoot);
    for (Folder& folder : folders_) {
        if (!IsAtOrBelow(folder.text, old)) continue;
        std::string tail = folder.text.substr(old.size());
        // A Windows list moved here: the sub-folders' "\" become "/".
        if (toSlashes) std::replace(tail.begin(), tail.end(), '\\', '/');
        std::string text(newRoot);
        if (!tail.empty() && !text.empty() && IsSeparator(text.back()) && IsSeparator(tail[0]))
            tail.erase(0, 1);
        else if (!tail.empty() && !IsSeparator(tail[0]))
            text += toSlashes || !IsWindowsFolder(newRoot) ? '/' : '\\';
        folder.text = text + tail;
    }
    // Entries that now name the same folder become one, the first keeping
    // its place.
    std::map<std::string, size_t> first;
    std::vector<size_t> to(folders_.size());
    std::vector<Folder> merged;
    for (size_t i = 0; i < folders_.size(); ++i) {
        auto [it, fresh] = first.emplace(folders_[i].text, merged.size());
        if (fresh) {
            merged.push_back(folders_[i]);
        } else {
            merged[it->second].checked |= folders_[i].checked;
        }
        to[i] = it->second;
    }
    for (Item& it : items_)
        it.folder = to[it.folder];
    folders_ = std::move(merged);
    modified_ = true;
    Compact();
    return to[f];
}

void ImageListModel::DeleteFolder(size_t f) {
    const std::string root = folders_[f].text;
    const size_t before = items_.size();
    std::erase_if(items_, [&](const Item& it) { return IsAtOrBelow(folders_[it.folder].text, root); });
    if (items_.size() != before) modified_ = true;
    Compact();
}

void ImageListModel::IgnoreFolder(size_t f) {
    const std::string root = folders_[f].text;
    for (Folder& folder : folders_)
        if (IsAtOrBelow(folder.text, root)) folder.ignored = true;
}

void ImageListModel::RemoveEmptyFolders() {
    Compact();
}

void ImageListModel::Compact() {
    for (Folder& f : folders_)
        f.count = 0;
    for (const Item& it : items_)
        ++folders_[it.folder].count;
    std::vector<size_t> to(folders_.size());
    std::vector<Folder> kept;
    for (size_t i = 0; i < folders_.size(); ++i) {
        to[i] = kept.size();
        if (folders_[i].count > 0) kept.push_back(std::move(folders_[i]));
    }
    for (Item& it : items_)
        it.folder = to[it.folder];
    folders_ = std::move(kept);
}

// ---- Verification pass ----

bool FolderExists(const std::string& folder) {
    struct stat st;
    return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FileOpens(const std::string& path) {
    // Non-blocking, so that a FIFO in the list cannot hang the pass.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st;
    const bool ok = ::fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode);
    ::close(fd);
    return ok;
}

std::string NormalisedFolder(std::string folder) {
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder;
}

VerifyOutcome VerifyImageList(ImageListModel& list, VerifyHost& host) {
    const int range = static_cast<int>(list.items().size() + list.folders().size());
    host.Preparing(range);
    list.ClearMarks();
    auto end = [&](VerifyOutcome outcome) {
        list.RemoveEmptyFolders();
        return outcome;
    };
    if (host.AbortRequested()) return end(VerifyOutcome::Aborted);

    // Step 1: the folders, in the order their first items come.
    int position = 0;
    for (size_t i = 0; i < list.items().size();) {
        if (host.AbortRequested()) return end(VerifyOutcome::Aborted);
        size_t f = list.items()[i].folder;
        if (list.folders()[f].ignored || list.folders()[f].checked) {
            ++i;
            continue;
        }
        const std::string text = list.folders()[f].text;
        host.Verifying(text, ++position);
        bool deleted = false;
        while (!FolderExists(text)) {
            const FolderChoice choice = host.FolderMissing(text);
            if (choice.kind == FolderChoice::Abort) return end(VerifyOutcome::Aborted);
            if (choice.kind == FolderChoice::Retry) continue;
            if (choice.kind == FolderChoice::Change) {
                // The dialog only lets an existing folder through; one that
                // vanished meanwhile is asked about again.
                if (!FolderExists(choice.folder)) continue;
                f = list.ChangeFolder(f, NormalisedFolder(choice.folder));
            } else if (choice.kind == FolderChoice::Delete) {
                list.DeleteFolder(f);
                deleted = true;
            } else {
                list.IgnoreFolder(f);
            }
            break;
        }
        if (deleted) {
            // Items before i may have gone too; the checked folders make a
            // second walk cheap.
            i = 0;
            continue;
        }
        list.MarkChecked(f);
        ++i;
    }

    // Step 2: the files themselves.
    for (size_t i = 0; i < list.items().size();) {
        if (host.AbortRequested()) return end(VerifyOutcome::Aborted);
        if (list.folders()[list.items()[i].folder].ignored) {
            ++i;
            continue;
        }
        const std::string path = list.PathOf(i);
        host.Verifying(path, ++position);
        if (FileOpens(path)) {
            ++i;
        } else {
            list.Remove({i});
        }
    }
    return end(VerifyOutcome::Completed);
}

// ---- Remembered values ----

namespace {

std::string VerifyFolderName(int i) {
    return "VerifyFolder" + std::to_string(i);
}

const TextSetting* const kListSettings[kRecentImageLists] = {
    &setting::ImageListFile0, &setting::ImageListFile1, &setting::ImageListFile2,
    &setting::ImageListFile3};

} // namespace

std::vector<std::string> LoadVerifyFolders(const SettingsStore& store) {
    std::vector<std::string> folders;
    for (int i = 0; i < kRecentVerifyFolders; ++i) {
        std::string f = store.GetText(setting::VerifyOp.section, VerifyFolderName(i), "");
        if (!f.empty()) folders.push_back(std::move(f));
    }
    return folders;
}

void StoreVerifyFolders(SettingsStore& store, const std::vector<std::string>& folders) {
    for (int i = 0; i < kRecentVerifyFolders; ++i) {
        const size_t n = static_cast<size_t>(i);
        store.SetText(setting::VerifyOp.section, VerifyFolderName(i),
                      n < folders.size() ? folders[n] : std::string());
    }
}

std::vector<std::string> PushRecentFolder(std::vector<std::string> recent,
                                          const std::string& folder) {
    std::erase(recent, folder);
    recent.insert(recent.begin(), folder);
    if (recent.size() > kRecentVerifyFolders) recent.resize(kRecentVerifyFolders);
    return recent;
}

std::vector<std::string> LoadRecentImageLists(const SettingsStore& store) {
    std::vector<std::string> lists;
    for (const TextSetting* s : kListSettings) {
        std::string l = store.Get(*s);
        if (!l.empty()) lists.push_back(std::move(l));
    }
    return lists;
}

std::vector<std::string> RecentImageListsAfter(const std::string& chosen,
                                               const std::vector<std::string>& entries) {
    std::vector<std::string> four{chosen};
    for (const std::string& e : entries)
        if (four.size() < kRecentImageLists && !e.empty() &&
            std::find(four.begin(), four.end(), e) == four.end())
            four.push_back(e);
    four.resize(kRecentImageLists);
    return four;
}

void StoreRecentImageLists(SettingsStore& store, const std::vector<std::string>& four) {
    for (size_t i = 0; i < kRecentImageLists; ++i)
        store.Set(*kListSettings[i], i < four.size() ? four[i] : std::string());
}
