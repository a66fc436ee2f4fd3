// The batch output dialog: where and how a run writes its files.
//
//   Save as type:  the 34 output formats, sorted by extension
//   Sub type:      the format's sub-types ("None" for formats without)  [Options...]
//   Save in:       the output folder                                   [Browse...]
//   Output folder: the folder as it will be used, cut with "..." to fit
//   [ ] Write each file into its input file's folder
//                                                  [Finish] [Cancel] [Help]
//
// Choosing another type selects the sub-type remembered for it in
// "BatchSubTypes". "Options..." opens the format's options page and is
// enabled only for formats that have one. A format Brellix cannot write yet
// says so and cannot be finished with. Finish makes the output folder when it
// is missing; a folder that cannot be made is reported and the dialog stays.
#pragma once

#include "batch/output_options.h"

#include <QDialog>
#include <QLabel>

#include <functional>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class SettingsStore;

// Cuts text one character at a time from the right, appending "...", until
// fits() accepts it; the cut text keeps at least 3 characters.
QString ElideFolderText(const QString& text, const std::function<bool(const QString&)>& fits);

// A label showing a folder, cut with ElideFolderText to its width.
class ElidedFolderLabel : public QLabel {
    Q_OBJECT
  public:
    explicit ElidedFolderLabel(QWidget* parent = nullptr);
    void setFolder(const QString& folder);
    const QString& folder() const { return folder_; }
    QSize minimumSizeHint() const override;

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    void refresh();
    QString folder_;
};

class CBatchOutputDlg : public QDialog {
    Q_OBJECT
  public:
    // start: the proposal (format, sub-type, folder, retain flag, details);
    // store: where the remembered sub-types are read.
    CBatchOutputDlg(const OutputSettings& start, const SettingsStore& store,
                    QWidget* parent = nullptr);

    // The choice; after Finish, the folder exists (unless each file goes
    // beside its input) and has no trailing "/".
    OutputSettings settings() const;
    int currentFormat() const;

    void accept() override;

  private:
    void fillTypes(int id);
    void fillSubTypes(int id, int selected);
    void typeChanged();
    void folderEdited();
    void browse();
    void openOptions();
    void updateEnabling();
    // The folder field made absolute ("~" and relative names from home).
    QString folderFromField() const;

    const SettingsStore& store_;
    OutputSettings settings_;
    QComboBox* type_;
    QComboBox* subType_;
    QPushButton* options_;
    QLineEdit* folder_;
    QPushButton* browse_;
    ElidedFolderLabel* folderShown_;
    QCheckBox* retain_;
    QLabel* notWritable_;
    QPushButton* finish_;
};
