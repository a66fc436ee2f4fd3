// "Batch Progress": the modeless window a run reports into.
//
//   Processing File 2 of 9
//   File:  landscape.jpg
//   Step:  Executing Script Line 1 of 3
//   +- Current Step ------------------------------+
//   | Reading /photos/gradient.bmp                |
//   | ...                       (newest selected) |
//   +---------------------------------------------+
//   Job Progress          [=========            ]
//   Script Line Progress  [=====                ]
//   [Save Log...]                     [Abort] [OK]
//
// During the run OK and "Save Log..." are disabled. "Abort" (or closing the
// window) asks for an abort and Escape for "abort or skip"; the window only
// reports these requests, the run decides. finishRun() enables OK and "Save
// Log...", disables Abort and makes OK the default; OK (or Escape, or
// closing) then closes the window. The questions and messages of a run are
// modal boxes over this window.
#pragma once

#include "batch/batch_window.h"

#include <QDialog>
#include <QStringList>

class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;

class BatchProgressWindow : public QDialog {
    Q_OBJECT
  public:
    explicit BatchProgressWindow(QWidget* parent = nullptr);

    void addLogLine(const QString& line);
    void replaceLastLogLine(const QString& line);
    void setCounterText(const QString& text);
    void setStepText(const QString& text);
    void setFileName(const QString& name);
    void setLineProgressLabel(const QString& text);
    void setJobRange(int files);
    void setJobPosition(int file);
    void setLineProgress(int percent);

    // The run is over: OK and "Save Log..." on, Abort off.
    void finishRun();
    bool runFinished() const { return finished_; }
    // Every log line shown, in order.
    QStringList logLines() const;

    // The run's questions, asked with modal boxes (objectNames
    // "overwriteQuestion", "abortQuestion", "abortOrSkipQuestion",
    // "batchMessage").
    OverwriteAnswer askOverwrite(const QString& question);
    bool confirmAbort();
    AbortOrSkip askAbortOrSkip();
    void showMessage(const QString& text, MessageIcon icon);

    // Saves the log to path (CR LF line ends); false with the system's
    // reason.
    bool saveLog(const QString& path, QString* reason) const;

  signals:
    void abortRequested();
    void escapeRequested();
    // OK was pressed (or the finished window closed).
    void closedByUser();

  public slots:
    // "&Save Log...": the save dialog, starting in "LogDirectory".
    void chooseAndSaveLog();

  protected:
    void reject() override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void closeFinished();

    QLabel* counter_;
    QLabel* fileName_;
    QLabel* step_;
    QListWidget* log_;
    QProgressBar* job_;
    QLabel* lineLabel_;
    QProgressBar* line_;
    QPushButton* saveLog_;
    QPushButton* abort_;
    QPushButton* ok_;
    bool finished_ = false;
};

// A message of a run or of its set-up, in a modal box over parent
// (objectName "batchMessage", one "OK" button).
void ShowBatchMessage(QWidget* parent, const QString& text, MessageIcon icon);
