// Image list files (.brl), batch lists and the temporary batch list.
//
// An image list file is text: the line "BRL", then one full path per line.
// Lines are written with CR LF; readers accept LF alone too. Reading stops at
// the end of the file or at the first empty line.
//
// A batch list is what a run walks: one file per line, a line ending at LF
// or at a NUL byte, a CR dropped, ending at the first empty line.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// A run refuses an image list file larger than this; the message says "250" KB.
inline constexpr size_t kMaxImageListBytes = 256000;
inline constexpr int kMaxImageListKB = 250;

enum class ImageListStatus { Ok, CannotOpen, NotAnImageList, TooLarge, WriteFailed };

// For the editor: every path of the file, in order. Refused when the file
// cannot be opened or its first line is not "BRL"; *paths is then unchanged.
ImageListStatus ReadImageListFile(const std::string& path, std::vector<std::string>* paths);
// Writes "BRL" and the paths with CR LF; an empty list writes no file. The
// file is replaced as a whole (temporary file, then rename).
ImageListStatus WriteImageListFile(const std::string& path, const std::vector<std::string>& paths);

// For a run ("Set Input Options"): the contents after the "BRL" line, at most
// kMaxImageListBytes of them. TooLarge for a file above that size.
ImageListStatus LoadImageListForRun(const std::string& path, std::string* contents);

// Reads a batch list; with headerSkip a first line equal to "BRL" is left
// out. False when the file cannot be opened.
bool ReadBatchList(const std::string& path, bool headerSkip, std::vector<std::string>* lines);
// The same rules on text in memory.
std::vector<std::string> SplitBatchList(std::string_view text, bool headerSkip);

// The system's temporary folder ($TMPDIR, else /tmp).
std::string TemporaryFolder();
// True when the name of a batch list marks it as a temporary one.
bool IsTemporaryListName(std::string_view path);

// Temporary batch lists in the temporary folder, with names starting and
// ending in "tmp". Empty on failure (the caller shows the temporary-file
// message). The caller deletes the file after the run.
//   raw: a copy of the text.
//   pattern: the names of the regular files in folder matching the pattern,
//     sorted, each followed by one NUL byte; hidden files (names starting
//     with ".") and folders are left out, and so are names holding a line
//     break, which a batch list cannot carry.
std::string MakeTemporaryBatchList(std::string_view text);
std::string MakeTemporaryBatchListFromPattern(const std::string& folder, std::string_view pattern);
// The names that list holds: regular files of folder ("" is the current
// folder) matching the pattern, sorted, without hidden files and names
// holding a line break. Empty when the folder cannot be searched.
std::vector<std::string> MatchingFiles(const std::string& folder, std::string_view pattern);

// Wildcard match: "*" any run, "?" one character, letters without case;
// "*.*" matches every name, with or without a dot.
bool MatchesPattern(std::string_view name, std::string_view pattern);
