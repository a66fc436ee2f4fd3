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
    void clear() {
        lines_.clear();
        ++clears_;
    }

    const std::vector<std::string>& lines() const { return lines_; }

    // Writes every line followed by CR LF (0 lines: an empty file). On
    // failure returns false and, when reason is given, the system's reason.
    bool save(const std::string& path, std::string* reason = nullptr) const;

    // Counts clear() calls, so a copy of the log on disk knows to start over.
    unsigned clears() const { return clears_; }

  private:
    std::vector<std::string> lines_;
    unsigned clears_ = 0;
};

// Keeps a file equal to what BatchLog::save would write, writing only what
// changed since the last save. Saving the whole log after every file grew
// with the square of a run's length, and each truncation of the old file
// waited for the disk where freed blocks are discarded.
class LogFileMirror {
  public:
    LogFileMirror() = default;
    LogFileMirror(const LogFileMirror&) = delete;
    LogFileMirror& operator=(const LogFileMirror&) = delete;
    ~LogFileMirror();

    // Brings path up to date with log. Starts the file over when it is not
    // the one last written, or when it no longer holds what was written
    // (another program replaced or changed it). Same results as BatchLog::save.
    bool save(const BatchLog& log, const std::string& path, std::string* reason = nullptr);

  private:
    bool rewrite(const BatchLog& log, const std::string& path, std::string* reason);
    bool stillOurs(const std::string& path) const;
    void close();

    int fd_ = -1;
    std::string path_;
    unsigned clears_ = 0;
    size_t lines_ = 0;    // lines in the file
    size_t lastSize_ = 0; // size of the last of them when written
    long long bytes_ = 0; // the file's length
};

// $XDG_STATE_HOME/brellix (default ~/.local/state/brellix), created when
// missing. Empty when it cannot be created; *reason then says why.
std::string StateFolder(std::string* reason = nullptr);
// The automatic log: "CURRENT.LOG" in the state folder ("" without one).
std::string CurrentLogPath();
