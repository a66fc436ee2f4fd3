// The progress window of a console run.
//
// Log lines go to standard output as they are added. Progress goes to
// standard error: a one-line bar redrawn in place when standard error is a
// terminal, otherwise one plain line per file. Messages go to standard
// error. Questions (an existing output file) are asked on the terminal when
// the run shows errors and there is one; without a terminal the answer is
// "&Yes", as in an unattended run. Ctrl-C is the Abort button.
#pragma once

#include "batch/batch_window.h"

#include <cstdio>
#include <string>

class ConsoleWindow : public BatchWindow {
  public:
    // ttyIn, ttyOut: the terminal to ask questions on (read and write
    // streams of their own, so typed-ahead answers are not lost), or null.
    // The log goes to out as it grows. A line the log changes after adding it
    // ("Generating Palette..." gets its colour count) is rewritten in place
    // on a terminal; otherwise the last line is held back until the next one
    // comes or the run finishes, so that out holds exactly the saved log.
    ConsoleWindow(FILE* out, FILE* err, FILE* ttyIn, FILE* ttyOut, bool errStreamIsTerminal,
                  bool outStreamIsTerminal = false);

    // SIGINT sets the abort request; a second Ctrl-C ends the program at once.
    static void InstallInterruptHandler();
    static bool Interrupted();

    void logLineAdded(const std::string& line) override;
    void lastLogLineChanged(const std::string& line) override;
    void setCounterText(const std::string& text) override;
    void setStepText(const std::string&) override {}
    void setTitle(const std::string&) override {}
    void setFileName(const std::string& name) override;
    void setLineProgressLabel(const std::string&) override {}
    void setJobRange(int files) override;
    void setJobPosition(int file) override;
    void setLineProgress(int percent) override;
    OverwriteAnswer askOverwrite(const std::string& question) override;
    bool confirmAbort() override { return true; }
    AbortOrSkip askAbortOrSkip() override;
    void showMessage(const std::string& text, MessageIcon icon) override;
    UserRequests poll() override;
    void finish() override;

  private:
    void clearBar();
    void writeLine(const std::string& line);
    void flushHeldLine();
    void drawBar();
    // One answer character from the terminal; 0 on end of input or Ctrl-C.
    char ask(const std::string& question, const std::string& prompt, const char* accepted);

    FILE* out_;
    FILE* err_;
    FILE* ttyIn_;
    FILE* ttyOut_;
    bool barTerminal_;
    bool outTerminal_;
    bool holding_ = false;
    std::string held_;
    bool barShown_ = false;
    std::string lastBar_;
    std::string fileName_;
    int jobRange_ = 0, jobPos_ = 0, linePercent_ = 0;
};
