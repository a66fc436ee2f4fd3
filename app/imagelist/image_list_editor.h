// The image list editor, "Image List - NAME" (" *" behind while modified).
//
//   +--------------------------------------------------------------+
//   | Name            | Folder                                     |
//   | ...             | ...                                        |
//   +--------------------------------------------------------------+
//   [New] [Open...] [Save] [Save As...]  [Add...] [Delete] [Import...] [Verify...]
//   3 file(s), 2 folder(s)        [progress bar]    Press ESC to abort
//                                                       [OK] [Cancel]
//
// The list itself is an ImageListModel (batch/image_list_model.h); the
// window shows it, asks the user through UserDialogs and ImageListAsk, and
// runs the verification pass on the GUI thread, pumping events so Escape can
// end it. OK saves a modified list and closes; Cancel (and Escape, and the
// close button) asks first when the list is modified.
#pragma once

#include "batch/image_list_model.h"

#include <QDialog>

#include <string>

class ImageListAsk;
class ImageListTableModel;
class QLabel;
class QProgressBar;
class QPushButton;
class QTreeView;
class UserDialogs;

class CImageListFileDlg : public QDialog {
    Q_OBJECT
  public:
    // Opens `path` when one is given; a file that cannot be read is reported
    // and the editor starts with a new list.
    CImageListFileDlg(UserDialogs& dialogs, ImageListAsk& ask, const QString& path = {},
                      QWidget* parent = nullptr);
    ~CImageListFileDlg() override;

    const ImageListModel& list() const { return list_; }
    // The list's file; empty for a new list never saved.
    QString fileName() const;
    bool verifying() const { return verifying_; }

    // The buttons' actions. Each returns false when the user cancelled it or
    // it failed (the failure already shown).
    bool newList();
    bool openList();
    bool save();
    bool saveAs();
    bool addImages();
    void deleteSelected();
    bool importList();
    // The verification pass; false when it was aborted.
    bool verify();
    // Column click: sorts by it, the other way round on a second click.
    void sortBy(int column);

    void accept() override;
    void reject() override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    class Host;
    // Asks about a modified list: false when the user cancels (or a save
    // it asked for did not happen).
    bool confirmLoseChanges();
    // Saving an empty modified list: true when the user agrees to drop the
    // changes (nothing is written).
    bool discardEmpty();
    bool writeTo(const std::string& path);
    bool readInto(const QString& path, bool import);
    void refresh();
    void updateTitle();
    void updateStatus();
    void setBusy(bool busy);

    UserDialogs& dialogs_;
    ImageListAsk& ask_;
    ImageListModel list_;
    ImageListTableModel* table_;
    QTreeView* view_;
    QLabel* status_;
    QProgressBar* progress_;
    QLabel* escHint_;
    QList<QPushButton*> buttons_;
    int sortColumn_ = -1;
    bool descending_ = false;
    bool verifying_ = false;
    bool abortRequested_ = false;
};
