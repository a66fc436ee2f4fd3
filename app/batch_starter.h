// What the main window needs from the batch side: the "S&tart..." flow
// (input and output dialogs as the script's settings commands ask, then the
// run in its progress window, on a worker thread) and news about the run.
// The window is busy while running() is true and must not let the script
// change then.
#pragma once

#include <QObject>
#include <QString>

#include <memory>

class CScript;
struct CommandLine;
class QWidget;

class BatchStarter : public QObject {
    Q_OBJECT
  public:
    using QObject::QObject;
    // commandLine: the command line's record when the run's input comes
    // from it, else null. False when nothing ran (a dialog cancelled, a
    // set-up failure already shown).
    virtual bool start(CScript& script, const QString& scriptPath,
                       const CommandLine* commandLine) = 0;
    virtual bool running() const = 0;

  signals:
    void runningChanged(bool running);
    void mainStatusChanged(const QString& text);
    void scriptLineSelected(int index);
    // The run ended and its window was closed.
    void finished();
};

// The program's batch side for mainWindow.
std::unique_ptr<BatchStarter> MakeBatchStarter(QWidget* mainWindow);
