// The image list editor's model, and its verification pass, without a window.
//
//   items    (list order)          folders (one entry per folder text)
//   +-----------+--------+         +-------------------+-------+---------+---------+
//   | name      | folder | ------> | text              | count | checked | ignored |
//   +-----------+--------+         +-------------------+-------+---------+---------+
//
// A path is split into a folder text and a name, and joined back the same way,
// so every path the list holds is written back byte for byte:
//   - a path holding "/" is split at its last "/" (the root folder is "/");
//   - a path without "/" (a list written on Windows) is split at its last "\",
//     or after a drive "X:", which becomes the folder "X:\";
//   - a path with neither is a name in the folder ".".
// "\" and ":" are ordinary characters in the names of a path holding "/".
//
// Duplicates are the same folder and name compared without case (ASCII
// letters); Add and Import leave them out, Open keeps them. Folder entries
// themselves are told apart with case, since "/A" and "/a" are two folders.
#pragma once

#include "batch/image_list.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

class SettingsStore;

struct ImagePath {
    std::string folder;
    std::string name;
};
ImagePath SplitImagePath(std::string_view path);
std::string JoinImagePath(std::string_view folder, std::string_view name);

class ImageListModel {
  public:
    struct Folder {
        std::string text;
        int count = 0;        // items in this folder
        bool checked = false; // the verification pass found (or settled) it
        bool ignored = false; // the verification pass leaves it and its items alone
    };
    struct Item {
        std::string name;
        size_t folder; // index into folders()
    };
    enum class SortKey { Name, Folder };

    const std::vector<Item>& items() const { return items_; }
    const std::vector<Folder>& folders() const { return folders_; }
    std::string PathOf(size_t item) const;
    std::vector<std::string> Paths() const;

    bool modified() const { return modified_; }
    void SetModified(bool m) { modified_ = m; }
    // The file the list was opened from or saved to; empty for a new list.
    const std::string& fileName() const { return fileName_; }

    // "&New": an empty, unnamed, unmodified list.
    void Clear();
    // Appends the paths in order; with skipDuplicates a path equal (without
    // case) to an item's, or to one added before it, is left out. A path
    // holding a line break is always left out: a list line cannot carry it.
    // Returns how many were added; the list is modified when any was.
    size_t Add(const std::vector<std::string>& paths, bool skipDuplicates);
    // Removes the items at these positions; folders left empty go too.
    void Remove(std::vector<size_t> items);
    // Replaces the list with the file's paths, duplicates kept, and takes the
    // file's name; unmodified. On failure the list is left as it was.
    ImageListStatus Open(const std::string& path);
    // Adds the file's paths, skipping duplicates. On failure nothing changes.
    ImageListStatus Import(const std::string& path, size_t* added = nullptr);
    // Writes the list whole and takes the name; unmodified. An empty list
    // writes no file (the editor asks before it gets here).
    ImageListStatus Save(const std::string& path);
    // Stable sort: by name then folder, or by folder then name, without case.
    void Sort(SortKey key, bool descending);

    // ---- The verification pass's changes ----

    void ClearMarks();
    // True when folder text `text` is `root` or lies below it ("root/...",
    // "root\..."), compared with case.
    static bool IsAtOrBelow(std::string_view text, std::string_view root);
    // Every folder at or below folder f gets newRoot in place of f's text;
    // entries that end up with the same text become one. Modified. Returns
    // the changed folder's new position. A list written on Windows moved to
    // a folder here gets "/" in its sub-folders too.
    size_t ChangeFolder(size_t f, std::string_view newRoot);
    // Removes every item at or below folder f, and those folders. Modified
    // when any item went.
    void DeleteFolder(size_t f);
    // Marks folder f and the folders below it ignored.
    void IgnoreFolder(size_t f);
    void MarkChecked(size_t f) { folders_[f].checked = true; }
    void RemoveEmptyFolders();

  private:
    size_t FolderFor(const std::string& text);
    // Rebuilds counts and drops empty folders, renumbering the items'.
    void Compact();

    std::vector<Item> items_;
    std::vector<Folder> folders_;
    bool modified_ = false;
    std::string fileName_;
};

// ---- Verification pass ----

// What the user chose in the "Folder Error" dialog.
struct FolderChoice {
    enum Kind { Abort, Retry, Change, Delete, Ignore };
    Kind kind = Abort;
    std::string folder; // Change: the folder to use instead (it exists)
};

class VerifyHost {
  public:
    virtual ~VerifyHost() = default;
    // "Preparing verification process...": the bar runs from 0 to range.
    virtual void Preparing(int range) = 0;
    // "Verifying '%s'" with a folder (step 2) or a full path (step 3).
    virtual void Verifying(const std::string& text, int position) = 0;
    // Escape held down: the pass ends at once.
    virtual bool AbortRequested() = 0;
    // The folder cannot be found.
    virtual FolderChoice FolderMissing(const std::string& folder) = 0;
};

enum class VerifyOutcome { Completed, Aborted };
// Checks every folder, then every file not ignored; removes what the user
// deleted and the files that cannot be opened. Whatever was done before an
// abort stays done, and folders left empty are removed either way.
VerifyOutcome VerifyImageList(ImageListModel& list, VerifyHost& host);

// A folder counts as missing when the system says it (or a folder on its
// way) does not exist, or when the name is not a folder.
bool FolderExists(const std::string& folder);
// The file opens for reading, and is not a folder.
bool FileOpens(const std::string& path);
// A folder typed or browsed for the "Folder Error" dialog, without trailing
// separators (the root stays "/").
std::string NormalisedFolder(std::string folder);

// ---- Remembered values ----

inline constexpr int kRecentVerifyFolders = 15;
inline constexpr int kRecentImageLists = 4;

// "VerifyFolder0" .. "VerifyFolder14", empty ones left out.
std::vector<std::string> LoadVerifyFolders(const SettingsStore& store);
void StoreVerifyFolders(SettingsStore& store, const std::vector<std::string>& folders);
// folder first, then the others without it, at most kRecentVerifyFolders.
std::vector<std::string> PushRecentFolder(std::vector<std::string> recent,
                                          const std::string& folder);

// "File0" .. "File3", empty ones left out.
std::vector<std::string> LoadRecentImageLists(const SettingsStore& store);
// What the "Set Input Options" dialog leaves behind: the chosen text as
// "File0", then the dialog's other entries that differ from it, in their
// order, up to "File3"; the rest are cleared. Always four values.
std::vector<std::string> RecentImageListsAfter(const std::string& chosen,
                                               const std::vector<std::string>& entries);
void StoreRecentImageLists(SettingsStore& store, const std::vector<std::string>& four);
