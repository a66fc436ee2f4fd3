// The string table, assembled from one list per layer.
#include "core/errors.h"
#include "core/strings.h"

#include <algorithm>
#include <vector>

namespace {

const StringEntry kStrings[] = {
#include "core/strings/core.inc"
#include "core/strings/script.inc"
#include "core/strings/formats.inc"
#include "core/strings/batch.inc"
#include "core/strings/imagelist.inc"
#include "core/strings/app_main.inc"
#include "core/strings/app_plain_dialogs.inc"
#include "core/strings/app_preview_dialogs.inc"
};

const StringEntry kLibTexts[] = {
#include "core/strings/libcodes.inc"
};

// Sorted once, so a lookup is a binary search.
template <size_t N> std::vector<StringEntry> Sorted(const StringEntry (&table)[N]) {
    std::vector<StringEntry> v(table, table + N);
    std::stable_sort(v.begin(), v.end(),
                     [](const StringEntry& a, const StringEntry& b) { return a.id < b.id; });
    return v;
}

const char* Find(const std::vector<StringEntry>& v, int id) {
    auto it = std::lower_bound(v.begin(), v.end(), id,
                               [](const StringEntry& e, int n) { return e.id < n; });
    return (it != v.end() && it->id == id) ? it->text : nullptr;
}

const std::vector<StringEntry>& Table() {
    static const std::vector<StringEntry> v = Sorted(kStrings);
    return v;
}
const std::vector<StringEntry>& LibTable() {
    static const std::vector<StringEntry> v = Sorted(kLibTexts);
    return v;
}

}  // namespace

std::span<const StringEntry> AllStrings() { return {kStrings, std::size(kStrings)}; }
std::span<const StringEntry> AllLibTexts() { return {kLibTexts, std::size(kLibTexts)}; }

const char* GetString(int id) { return Find(Table(), id); }

std::string LoadString(int id) {
    const char* s = GetString(id);
    return s ? s : "";
}

std::string LibErrorText(KervErrorCode code) {
    const char* s = Find(LibTable(), code);
    return s ? s : "";
}
