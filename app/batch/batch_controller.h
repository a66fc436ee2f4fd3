// Starting and watching a batch run from the desktop program.
//
// start() makes the run's set-up on the GUI thread: the input and output
// dialogs as the script's settings commands ask (batch/run_setup.h), or the
// command line's record with no dialog at all (batch/batch_mode.h). The run
// itself goes to a worker thread and reports into the "Batch Progress"
// window through QtBatchWindow; start() returns as soon as it is going.
//
// While a run is going on (and until its window is closed with OK) running()
// is true: the main window must not let the script be edited (the run's
// script lines are reported by position) nor start other image work, which
// would share the image layers' caches with the run. The run works on its
// own copy of the script, so reading the script meanwhile is safe. With the command line's minimise
// flag the main window is minimised for the run, and while it is minimised its title shows the
// script's name and the file counter; the title it had comes back at the end.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class BatchProgressWindow;
class BatchWindow;
class CScript;
class QThread;
class QWidget;
class QtBatchWindow;
struct CommandLine;

struct BatchStart {
    const CommandLine* commandLine = nullptr; // the command line's record when started from it
};

class BatchController : public QObject {
    Q_OBJECT
  public:
    explicit BatchController(QWidget* mainWindow);
    // A run still going on is stopped (as by Abort, with no questions) and
    // waited for.
    ~BatchController() override;

    // The "S&tart..." flow: input and output dialogs as the script's settings
    // commands ask, then the run in the progress window, on a worker thread.
    // False when nothing ran (a dialog cancelled, a set-up failure already
    // shown). The script must not be edited while running() is true.
    bool start(CScript& script, const QString& scriptPath, const BatchStart& how = {});
    bool running() const { return running_; }

  signals:
    void runningChanged(bool running);
    void mainStatusChanged(const QString& text);
    void scriptLineSelected(int index);
    void finished(); // the run ended and its window was closed

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // Starts run on a worker thread with a new progress window.
    void launch(const QString& scriptPath, bool minimise, std::function<void(BatchWindow&)> run);
    void runEnded();
    void showCounterInTitle(const QString& counter);
    void restoreTitle();

    QPointer<QWidget> mainWindow_;
    bool running_ = false;
    QThread* thread_ = nullptr;
    BatchProgressWindow* window_ = nullptr;
    QtBatchWindow* adapter_ = nullptr;
    QString scriptName_;
    QString savedTitle_;
    bool titleChanged_ = false;
};
