#include "app/script_document.h"

#include "app/main_strings.h"
#include "core/settings.h"

#include <algorithm>
#include <memory>

ScriptDocument::ScriptDocument() : path_(LoadString(IDS_UNTITLED)) {}

bool ScriptDocument::untitled() const {
    return path_ == LoadString(IDS_UNTITLED);
}

std::string ScriptDocument::caption() const {
    return LoadString(appids::ApplicationName) + " - " + path_;
}

void ScriptDocument::reset() {
    script_.RemoveAll();
    modified_ = false;
    path_ = LoadString(IDS_UNTITLED);
}

bool ScriptDocument::open(const std::string& path, std::string* message) {
    CScript loaded;
    bool older = false;
    if (!loaded.Load(path, &older, message)) return false;
    script_.RemoveAll();
    for (int i = 0; i < loaded.GetCount(); ++i)
        script_.InsertCommand(std::make_unique<CScriptCommand>(*loaded.GetCommand(i)),
                              script_.GetCount());
    path_ = path;
    modified_ = older;
    return true;
}

bool ScriptDocument::save(std::string* message) {
    if (!script_.Save(path_, message)) return false;
    modified_ = false;
    return true;
}

bool ScriptDocument::saveAs(const std::string& path, std::string* message) {
    if (!script_.Save(path, message)) return false;
    path_ = path;
    modified_ = false;
    return true;
}

ScriptDocument::AddResult ScriptDocument::add(int32_t id, int selected, const CommandEdit& edit) {
    if (!IsCommandID(id)) return {AddOutcome::Unknown, -1};
    if (!CanAddCommand(script_, id))
        return {AddOutcome::OnlyOnce, script_.IndexOf(script_.FindCommand(id))};
    const int at = selected >= 0 && selected < count() ? selected : -1;
    CScriptCommand* added = script_.InsertCommand(std::make_unique<CScriptCommand>(id), at);
    if (!edit(*added)) {
        script_.RemoveCommand(script_.IndexOf(added));
        return {AddOutcome::Cancelled, -1};
    }
    modified_ = true;
    return {AddOutcome::Added, script_.IndexOf(added)};
}

int ScriptDocument::remove(int line) {
    if (line < 0 || line >= count()) return -1;
    script_.RemoveCommand(line);
    modified_ = true;
    return std::min(line, count() - 1);
}

int ScriptDocument::moveUp(int line) {
    if (line <= 0 || line >= count()) return -1;
    CScriptCommand* a = script_.GetCommand(line - 1);
    CScriptCommand* b = script_.GetCommand(line);
    script_.SetCommand(line - 1, b);
    script_.SetCommand(line, a);
    modified_ = true;
    return line - 1;
}

int ScriptDocument::moveDown(int line) {
    if (line < 0 || line >= count() - 1) return -1;
    CScriptCommand* a = script_.GetCommand(line);
    CScriptCommand* b = script_.GetCommand(line + 1);
    script_.SetCommand(line, b);
    script_.SetCommand(line + 1, a);
    modified_ = true;
    return line + 1;
}

bool ScriptDocument::edit(int line, const CommandEdit& edit) {
    CScriptCommand* c = script_.GetCommand(line);
    if (!c || !edit(*c)) return false;
    modified_ = true;
    return true;
}

std::vector<uint8_t> ScriptDocument::copy(int line) const {
    const CScriptCommand* c = script_.GetCommand(line);
    if (!c) return {};
    KOwnedHandle block(MakeClipboardBlock(*c));
    if (!block) return {};
    KLock lock(block.get());
    if (!lock) return {};
    const auto* bytes = static_cast<const uint8_t*>(lock.get());
    return std::vector<uint8_t>(bytes, bytes + KML_GlobalSize(block.get()));
}

ScriptDocument::PasteResult ScriptDocument::paste(std::span<const uint8_t> record, int selected) {
    auto command = std::make_unique<CScriptCommand>();
    if (!DecodeClipboardRecord(record, *command) || !IsCommandID(command->m_nID))
        return {PasteOutcome::Damaged, -1};
    if (!CanAddCommand(script_, command->m_nID))
        return {PasteOutcome::OnlyOnce, script_.IndexOf(script_.FindCommand(command->m_nID))};
    const int at = selected >= 0 && selected < count() ? selected : -1;
    CScriptCommand* pasted = script_.InsertCommand(std::move(command), at);
    modified_ = true;
    return {PasteOutcome::Pasted, script_.IndexOf(pasted)};
}

namespace {
constexpr const char* kRecentSection = "Recent File List";
std::string RecentName(int i) {
    return "File" + std::to_string(i + 1);
}
} // namespace

void RecentFiles::load(const SettingsStore& store) {
    files_.clear();
    for (int i = 0; i < kCount; ++i) {
        std::string path = store.GetText(kRecentSection, RecentName(i), "");
        if (!path.empty() && std::find(files_.begin(), files_.end(), path) == files_.end())
            files_.push_back(std::move(path));
    }
}

void RecentFiles::store(SettingsStore& store) const {
    for (int i = 0; i < kCount; ++i) {
        if (i < static_cast<int>(files_.size()))
            store.SetText(kRecentSection, RecentName(i), files_[static_cast<size_t>(i)]);
        else
            store.Remove(kRecentSection, RecentName(i));
    }
}

void RecentFiles::add(const std::string& path) {
    remove(path);
    files_.insert(files_.begin(), path);
    if (files_.size() > kCount) files_.resize(kCount);
}

void RecentFiles::remove(const std::string& path) {
    files_.erase(std::remove(files_.begin(), files_.end(), path), files_.end());
}

bool EditCommand(CScriptCommand& command, KHANDLE preview, const CommandEdit& dialog) {
    if (!CommandHasParameters(command.m_nID)) return true;
    if (!preview) return false;
    {
        KLock lock(preview);
        if (!lock) return false;
    }
    return dialog(command);
}
