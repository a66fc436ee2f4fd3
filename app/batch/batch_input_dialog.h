// The batch input dialog, "Batch Process Input Files": the files a run
// processes.
//
//   +-------------------------------------------------------------+
//   | file chooser (several files; the readable formats' filters)  |
//   |                                         [Next]   [Cancel]   |
//   +-------------------------------------------------------------+
//   | [x] Interrupt processing to display error messages           |
//   | [x] Use the output settings specified in the script          |
//   |                                      [Select All]  [Help]    |
//   +-------------------------------------------------------------+
//
// "Next" takes the picked files; "Select All" takes a pattern instead (the
// typed name, else the chosen filter's, "*.*" for "All Files") and closes the
// dialog at once. The second box is enabled only when the script holds "Set
// Output Options", and then starts checked.
#pragma once

#include "batch/run_setup.h"

#include <QDialog>

#include <vector>

class QCheckBox;
class ImageChooser;
class QFileDialog;
class QPushButton;

class CBatchInputDlg : public QDialog {
    Q_OBJECT
  public:
    explicit CBatchInputDlg(const InputDialogStart& start, QWidget* parent = nullptr);

    // The choice, once the dialog was accepted.
    const InputChoice& choice() const { return choice_; }
    // The embedded file chooser.
    QFileDialog* fileChooser() const;

  private:
    void filesPicked();
    void selectAll();
    // The common part of both ways out.
    void takeOptions();
    int filterIndex() const;

    ImageChooser* files_;
    QCheckBox* interrupt_;
    QCheckBox* useScript_;
    QPushButton* selectAll_;
    InputChoice choice_;
};
