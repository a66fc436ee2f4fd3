#include "app/imagelist/image_list_ui.h"

#include "app/imagelist/add_images_dialog.h"
#include "app/imagelist/folder_error_dialog.h"
#include "core/settings.h"

#include <QFileDialog>

bool QtImageListAsk::pickImages(QWidget* parent, const QString& startFolder, int* filterIndex,
                                QStringList* paths, QString* folder) {
    CAddImagesDlg dialog(startFolder, filterIndex ? *filterIndex : 0, parent);
    if (dialog.exec() != QDialog::Accepted) return false;
    *paths = dialog.paths();
    *folder = dialog.folder();
    if (filterIndex) *filterIndex = dialog.filterIndex();
    return true;
}

QString QtImageListAsk::chooseFolder(QWidget* parent, const QString& title, const QString& start) {
    return QFileDialog::getExistingDirectory(parent, title, start);
}

FolderChoice QtImageListAsk::folderError(QWidget* parent, const std::string& folder,
                                         UserDialogs& dialogs) {
    CFolderErrorDlg dialog(folder, dialogs, *this, AppSettings(), parent);
    dialog.exec();
    return dialog.choice();
}
