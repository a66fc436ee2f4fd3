// The batch log: the lines a run writes, shown as they come and saved to
// "CURRENT.LOG" after every file.
#pragma once

#include <functional>
#include <string>
#include <vector>

class BatchLog {
  public:
    // Told of every new line, and of a last line that changed.
    std::function<void(const std::string&)> onLineAdded;
    std::function<void(const std::string&)> onLastLineChanged;

    void add(const std::string& text);
    // A string-table entry; an entry that loads as empty adds nothing.
    void addString(int id);
    // Appends to the text of the last line (a new line when there is none).
    void appendToLast(const std::string& text);
    void clear() { lines_.clear(); }

    const std::vector<std::string>& lines() const { return lines_; }

    // Writes every line followed by CR LF (0 lines: an empty file). On
    // failure returns false and, when reason is given, the system's reason.
    bool save(const std::string& path, std::string* reason = nullptr) const;

  private:
    std::vector<std::string> lines_;
};

// $XDG_STATE_HOME/brellix (default ~/.local/state/brellix), created when
// missing. Empty when it cannot be created; *reason then says why.
std::string StateFolder(std::string* reason = nullptr);
// The automatic log: "CURRENT.LOG" in the state folder ("" without one).
std::string CurrentLogPath();
