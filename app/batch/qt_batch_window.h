// The one place where a batch run's worker thread meets the widgets.
//
// The runner calls the BatchWindow interface on its worker thread. Reports
// (log lines, texts, bars) are posted to the GUI thread in order and never
// make the worker wait; the line progress bar is posted only when its
// percentage changes. Questions and messages post a modal box to the GUI
// thread and block the worker until it is answered. poll() hands over the
// Abort and Escape requests the window made since the last poll.
// waitUntilClosed() turns the window into its finished state if the run did
// not (an aborted run) and blocks until OK is pressed.
//
// detach() (GUI thread) ends every wait at once and for good: questions then
// get the answer that stops the run and poll() reports an abort, so a run can
// be wound down while its window goes away.
#pragma once

#include "batch/batch_window.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>

class BatchProgressWindow;

class QtBatchWindow : public QObject, public BatchWindow {
    Q_OBJECT
  public:
    // window: shown when the run first reports into it. The adapter belongs
    // to the GUI thread.
    explicit QtBatchWindow(BatchProgressWindow* window, QObject* parent = nullptr);
    ~QtBatchWindow() override;

    void detach();

    // ---- BatchWindow, called on the worker thread ----
    void logLineAdded(const std::string& line) override;
    void lastLogLineChanged(const std::string& line) override;
    void setCounterText(const std::string& text) override;
    void setStepText(const std::string& text) override;
    void setTitle(const std::string& text) override;
    void setFileName(const std::string& name) override;
    void setLineProgressLabel(const std::string& text) override;
    void setJobRange(int files) override;
    void setJobPosition(int file) override;
    void setLineProgress(int percent) override;
    OverwriteAnswer askOverwrite(const std::string& question) override;
    bool confirmAbort() override;
    AbortOrSkip askAbortOrSkip() override;
    void showMessage(const std::string& text, MessageIcon icon) override;
    UserRequests poll() override;
    void finish() override;
    void waitUntilClosed() override;
    void setMainStatus(const std::string& text) override;
    void selectScriptLine(int index) override;

  signals:
    // Emitted on the GUI thread, in the order the run reported.
    void mainStatusChanged(const QString& text);
    void scriptLineSelected(int index);
    void counterTextChanged(const QString& text);
    // The run is over and waits for its window's OK.
    void waitingForClose();

  private:
    struct Sync;
    using Window = QPointer<BatchProgressWindow>;

    // Runs f on the GUI thread, later; f gets the window (null once it is gone).
    void post(std::function<void(BatchProgressWindow*)> f);
    // Reports into the window, showing it first.
    void report(std::function<void(BatchProgressWindow*)> f);
    // Runs question on the GUI thread and waits for its answer.
    template <class R> R ask(std::function<R(BatchProgressWindow*)> question, R whenDetached);

    Window window_;
    std::shared_ptr<Sync> sync_;
    std::atomic<bool> shown_{false};
    std::atomic<int> lastPercent_{-1};
};
