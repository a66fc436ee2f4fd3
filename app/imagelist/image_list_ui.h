// What the image list windows ask the user beyond message boxes and single
// file names (those go through UserDialogs): several image files for "A&dd...",
// a folder, and the verification pass's "Folder Error" dialog. The windows
// reach them through this interface only, so tests answer in place of the
// user and no real modal dialog blocks them.
#pragma once

#include "batch/image_list_model.h"

#include <QString>
#include <QStringList>

#include <string>

class QWidget;
class UserDialogs;

class ImageListAsk {
  public:
    virtual ~ImageListAsk() = default;
    // "A&dd...": the image files picked, as absolute paths, or every file
    // that "Select &All"'s pattern matches. *folder is where the user ended;
    // *filterIndex the file type chosen first and at the end. False when
    // cancelled.
    virtual bool pickImages(QWidget* parent, const QString& startFolder, int* filterIndex,
                            QStringList* paths, QString* folder) = 0;
    // An existing folder; empty when cancelled.
    virtual QString chooseFolder(QWidget* parent, const QString& title, const QString& start) = 0;
    // The "Folder Error" dialog for a folder the verification pass cannot
    // find; its own messages go through dialogs.
    virtual FolderChoice folderError(QWidget* parent, const std::string& folder,
                                     UserDialogs& dialogs) = 0;
};

// The real dialogs.
class QtImageListAsk : public ImageListAsk {
  public:
    bool pickImages(QWidget* parent, const QString& startFolder, int* filterIndex,
                    QStringList* paths, QString* folder) override;
    QString chooseFolder(QWidget* parent, const QString& title, const QString& start) override;
    FolderChoice folderError(QWidget* parent, const std::string& folder,
                             UserDialogs& dialogs) override;
};
