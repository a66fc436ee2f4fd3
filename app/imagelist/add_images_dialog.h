// The file chooser of the image list editor's "A&dd...": several image
// files, or "Select &All" for every file of the folder that matches the typed
// name or the chosen file type.
#pragma once

#include <QDialog>
#include <QStringList>

#include <string>
#include <vector>

class ImageChooser;
class QFileDialog;

class CAddImagesDlg : public QDialog {
    Q_OBJECT
  public:
    CAddImagesDlg(const QString& startFolder, int filterIndex, QWidget* parent = nullptr);

    // Once accepted: absolute paths, in the chooser's order or sorted by
    // name for "Select &All".
    const QStringList& paths() const { return paths_; }
    QString folder() const;
    int filterIndex() const;
    QFileDialog* fileChooser() const;

  private:
    void filesPicked();
    void selectAll();

    ImageChooser* files_;
    QStringList paths_;
};
