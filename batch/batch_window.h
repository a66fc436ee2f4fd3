// What the batch runner needs from its progress window.
//
// The runner drives the window: it adds log lines, sets the texts and bars,
// and asks the questions of a run. The console program implements this on
// the terminal, the desktop program with a dialog. Every call comes from the
// thread running the batch.
#pragma once

#include <string>

enum class OverwriteAnswer { Yes, YesAll, No, NoAll, Cancel };
enum class AbortOrSkip { Abort, Skip, Cancel };
enum class MessageIcon { Information, Exclamation, Error };

// What the user asked for since the last poll.
struct UserRequests {
    bool abort = false;  // the Abort button (Ctrl-C in a console)
    bool escape = false; // Escape held down: abort the run or skip the file
};

class BatchWindow {
  public:
    virtual ~BatchWindow() = default;

    // The "Current Step" log list.
    virtual void logLineAdded(const std::string& line) = 0;
    virtual void lastLogLineChanged(const std::string& line) = 0;

    // "Processing File %i of %i", the current step, the window title, the
    // current file's name, and the label above the line progress bar.
    virtual void setCounterText(const std::string& text) = 0;
    virtual void setStepText(const std::string& text) = 0;
    virtual void setTitle(const std::string& text) = 0;
    virtual void setFileName(const std::string& name) = 0;
    virtual void setLineProgressLabel(const std::string& text) = 0;

    // "Job Progress" (0..files) and the running operation's bar (0..100).
    virtual void setJobRange(int files) = 0;
    virtual void setJobPosition(int file) = 0;
    virtual void setLineProgress(int percent) = 0;

    // The overwrite question (the text names the file); buttons "&Yes",
    // "Yes &All", "&No", "N&o All", "Cancel".
    virtual OverwriteAnswer askOverwrite(const std::string& question) = 0;
    // "Are you sure you want to abort processing?": true for Yes.
    virtual bool confirmAbort() = 0;
    // "Abort or Skip File?".
    virtual AbortOrSkip askAbortOrSkip() = 0;
    // An error or notice the user must see (only in runs that are not
    // unattended, and for failures of the run's set-up).
    virtual void showMessage(const std::string& text, MessageIcon icon) = 0;

    // Handles pending events and reports the user's requests.
    virtual UserRequests poll() = 0;

    // The run is over: OK and "&Save Log..." become available, Abort not.
    virtual void finish() = 0;
    // At the end of a run that keeps its window: returns once the user has
    // closed it. The console returns at once.
    virtual void waitUntilClosed() {}

    // The main window's side: its status text and the script line being run.
    virtual void setMainStatus(const std::string&) {}
    virtual void selectScriptLine(int) {}
};
