// "Set Input Options": the image list a script's batch takes its files from,
// and the run's two options.
//
//   Image List
//   [recent lists                              v] [Browse...] [Edit...]
//   [x] Interrupt processing to display error messages
//   [x] Use the output settings specified in the script
//                                                  [OK] [Cancel]
//
// OK refuses an empty name; otherwise it writes S0, P0 (1 shows errors) and
// P1 (1 when the script's output settings are NOT used), and stores the
// recent lists ("ImageList"/"File0".."File3") and "InterruptOnErr".
#pragma once

#include <QDialog>

class CScriptCommand;
class ImageListAsk;
class QCheckBox;
class QComboBox;
class UserDialogs;

class CInputOptionsDlg : public QDialog {
    Q_OBJECT
  public:
    CInputOptionsDlg(CScriptCommand& command, UserDialogs& dialogs, ImageListAsk& ask,
                     QWidget* parent = nullptr);

    void accept() override;

  private:
    void browse();
    void edit();

    CScriptCommand& command_;
    UserDialogs& dialogs_;
    ImageListAsk& ask_;
    QComboBox* list_;
    QCheckBox* interrupt_;
    QCheckBox* useScript_;
};
