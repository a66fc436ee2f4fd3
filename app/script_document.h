// The script being edited: the one CScript of the window, its path and
// modified flag, and the editing operations of the main window on it.
//
// No widgets here. Lines are zero-based positions in the script; a line of
// -1 means "no line selected". Every operation that changes the script sets
// the modified flag; New, Open and a successful Save clear it.
#pragma once

#include "script/commands.h"
#include "script/script.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

class SettingsStore;

// Shows a command's parameters and lets the user change them: true when
// the user confirmed (the command may have changed), false on Cancel (it
// has not).
using CommandEdit = std::function<bool(CScriptCommand& command)>;

class ScriptDocument {
  public:
    ScriptDocument();

    CScript& script() { return script_; }
    const CScript& script() const { return script_; }
    int count() const { return script_.GetCount(); }

    // "UNTITLED" until a Save As or an Open.
    const std::string& path() const { return path_; }
    bool untitled() const;
    bool modified() const { return modified_; }
    // The window's caption: the program's name, " - ", the path.
    std::string caption() const;

    // New: no commands, "UNTITLED", not modified.
    void reset();

    // Open: the file's commands replace the script and the path becomes the
    // file's; a file of an older version counts as modified. A file that
    // cannot be loaded leaves script, path and flag as they were (so a later
    // Save cannot overwrite the damaged file with an empty script);
    // *message then holds the text to show.
    bool open(const std::string& path, std::string* message);
    // Save to the current path (the caller asks for a name first when the
    // script is untitled) or to a new one, which then becomes the path. The
    // modified flag is cleared on success only.
    bool save(std::string* message);
    bool saveAs(const std::string& path, std::string* message);

    enum class AddOutcome {
        Added,     // line: the new command
        OnlyOnce,  // the kind may occur once and is there: line is that command
        Cancelled, // the user cancelled its parameters: nothing changed
        Unknown    // not a command ID: nothing changed
    };
    struct AddResult {
        AddOutcome outcome;
        int line;
    };
    // Adds a command of kind id directly after the selected line (at the end
    // when none is selected) and runs edit on it; Cancel removes it again.
    AddResult add(int32_t id, int selected, const CommandEdit& edit);

    // Delete: the line to select afterwards (the same position, or the new
    // last line), -1 when nothing is left or nothing was deleted.
    int remove(int line);
    // Move Up / Down: the moved command's new line, or -1 when it cannot
    // move (first or last line, no line); the flag is then untouched.
    int moveUp(int line);
    int moveDown(int line);
    // Edit: true (and modified) when the user confirmed.
    bool edit(int line, const CommandEdit& edit);

    // The clipboard block of the command at line (the record and four spare
    // bytes); empty when there is no such line or no memory.
    std::vector<uint8_t> copy(int line) const;

    enum class PasteOutcome {
        Pasted,   // line: the pasted command
        OnlyOnce, // refused by the once-only rule: line is the existing one
        Damaged   // not a command record: nothing changed
    };
    struct PasteResult {
        PasteOutcome outcome;
        int line;
    };
    // Inserts the record's command directly after the selected line (at the
    // end when none is selected).
    PasteResult paste(std::span<const uint8_t> record, int selected);

  private:
    CScript script_;
    std::string path_;
    bool modified_ = false;
};

// The four most recently used script files, newest first, kept in the
// settings as "Recent File List"/"File1" .. "File4".
class RecentFiles {
  public:
    static constexpr int kCount = 4;

    void load(const SettingsStore& store);
    void store(SettingsStore& store) const;
    // Puts path at the top (moving it when already listed).
    void add(const std::string& path);
    void remove(const std::string& path);
    const std::vector<std::string>& files() const { return files_; }

  private:
    std::vector<std::string> files_;
};

// The rules around a command's parameter dialog: a kind without parameters
// is confirmed at once, without a dialog; otherwise the preview image must
// be lockable (the dialogs may show it), and the dialog decides.
bool EditCommand(CScriptCommand& command, KHANDLE preview, const CommandEdit& dialog);
