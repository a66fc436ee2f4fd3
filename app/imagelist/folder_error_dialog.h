// "Folder Error": what the verification pass asks for a folder it cannot
// find.
//
//   The following folder has been moved, renamed, or cannot be accessed. ...
//     /home/u/Photos/2019
//   (o) Change all references to this folder and its files to:
//       [recent folders                          v] [Browse...]
//   ( ) Delete all references to this folder and its files
//   ( ) Ignore all references to this folder and its files
//                                        [OK] [Retry] [Abort]
//
// OK with Change refuses a folder that does not exist, and keeps the dialog
// open. The choice, the 15 recent replacement folders and the dialog's
// position are remembered in the settings store ("ImageList").
#pragma once

#include "batch/image_list_model.h"

#include <QDialog>

#include <string>

class ImageListAsk;
class QComboBox;
class QPushButton;
class QRadioButton;
class SettingsStore;
class UserDialogs;

class CFolderErrorDlg : public QDialog {
    Q_OBJECT
  public:
    CFolderErrorDlg(const std::string& folder, UserDialogs& dialogs, ImageListAsk& ask,
                    SettingsStore& store, QWidget* parent = nullptr);

    // The answer, once the dialog has closed (Abort until then).
    const FolderChoice& choice() const { return choice_; }

    void done(int result) override;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void okPressed();
    void browse();
    void enableCombo();

    std::string folder_;
    UserDialogs& dialogs_;
    ImageListAsk& ask_;
    SettingsStore& store_;
    QRadioButton* change_;
    QRadioButton* delete_;
    QRadioButton* ignore_;
    QComboBox* newFolder_;
    QPushButton* browse_;
    FolderChoice choice_;
    bool placed_ = false;
};
