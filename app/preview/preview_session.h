// The preview image and the work done on it: loading (and reverting),
// running the selected command ("Exe&c Cmd") and running the whole script
// from its first line ("Test Scri&pt").
//
// Each piece of work runs on the worker thread through CScript::DoCommand,
// as the batch runs it, on a copy of the command(s) taken when the work
// starts, so the window may keep reading the script meanwhile. The session
// lives on the GUI thread: it replaces the preview image and its display
// copy only between jobs, and asks the user through UserDialogs.
//
// Refusals: while a batch runs nothing starts (silently); while preview
// work runs a new request sounds the alert and is refused.
#pragma once

#include "app/user_dialogs.h"
#include "core/dib.h"
#include "core/kmem.h"

#include <QImage>
#include <QObject>
#include <QSize>

#include <array>
#include <memory>
#include <string>
#include <vector>

class CScript;
class PreviewWorker;
// What a job hands back: a new preview image with its display copy.
struct PreviewOutput;

class PreviewSession : public QObject {
    Q_OBJECT
  public:
    enum class Run { None, Load, Command, Test };

    // dialogParent: the window the message boxes belong to (may be null).
    PreviewSession(UserDialogs& dialogs, QWidget* dialogParent, QObject* parent = nullptr);
    ~PreviewSession() override;

    // The preview image (null until a load has finished) and its display
    // copy as painted.
    KHANDLE image() const { return image_.get(); }
    KHANDLE displayCopy() const { return display_.get(); }
    const QImage& picture() const { return picture_; }

    Run run() const { return run_; }
    bool running() const { return run_ != Run::None; }

    void setBatchRunning(bool running) { batchRunning_ = running; }
    // As StoredScreenDepth gives it.
    void setScreenDepth(int depth) { screenDepth_ = depth; }
    // The box the display copy must fit (the preview control less 2 pixels
    // a side). When idle the display copy is rebuilt at once, otherwise when
    // the running work ends.
    void setBox(QSize box);
    QSize box() const { return box_; }

    // Load (Revert): the file at path, or the built-in picture when the path
    // names it or the file cannot be read. reportFailure: tell the user when
    // a file could not be read. False when refused.
    bool load(const std::string& path, bool reportFailure);
    // Whether the last load read its file (false: the built-in picture).
    bool lastLoadReadFile() const { return lastLoadRead_; }
    // Runs the command at line. False when refused or no line is given.
    bool execute(const CScript& script, int line);
    // Runs every line from the first. False when refused.
    bool test(const CScript& script);
    // Asks the running work to stop; a stopped command is not reported.
    void stop();

  signals:
    void runStarted();
    void runFinished();
    // The preview image (and display copy) was replaced.
    void imageChanged();
    void progress(int percent);
    // The progress caption while work runs; empty when it has ended.
    void captionChanged(const QString& caption);
    // The main window's status text.
    void statusChanged(const QString& text);
    // A script test has reached this line.
    void lineSelected(int line);

  private:
    void begin(Run run, const QString& caption);
    void end();
    void onJobFinished(KervErrorCode code);
    void finishLoad(KervErrorCode code);
    void finishCommand(KervErrorCode code);
    void finishTestPreparation(KervErrorCode code);
    void finishTestLine(KervErrorCode code);
    void startTestLine(int line);
    void adopt(PreviewOutput& out);
    void rebuildDisplay();
    bool refuse();

    UserDialogs& dialogs_;
    QWidget* dialogParent_;
    KOwnedHandle image_;
    KOwnedHandle display_;
    QImage picture_;
    QSize box_{1, 1};
    QSize displayBox_; // the box display_ was made for
    int screenDepth_ = 24;
    bool batchRunning_ = false;
    bool lastLoadRead_ = false;

    Run run_ = Run::None;
    std::string loadPath_;
    bool reportLoadFailure_ = false;
    int line_ = -1; // the command's line (Exec) or the test's current line
    // What the running work works on: copies of the command(s), the
    // optimized palette, the test's watermarks.
    std::unique_ptr<CScript> commands_;
    std::array<RGBQUAD, 256> palette_{};
    int paletteCount_ = 0;
    std::vector<KOwnedHandle> watermarks_;
    std::shared_ptr<PreviewOutput> output_;
    // Declared last: destroyed first, so a running job ends before anything
    // it reads is freed.
    std::unique_ptr<PreviewWorker> worker_;
};
