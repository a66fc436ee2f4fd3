// Everything the main window asks the user: message boxes, questions, file
// names, and the parameters of a command. The window goes through this
// interface only, so tests can answer in place of the user.
#pragma once

#include "core/kmem.h"

#include <QString>

class QWidget;
class CScriptCommand;

enum class BoxIcon { Information, Exclamation, Error, Question };
enum class BoxButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class BoxAnswer { Ok, Cancel, Yes, No };

class UserDialogs {
  public:
    virtual ~UserDialogs() = default;

    // A message box with the program's name as its title.
    virtual BoxAnswer ask(QWidget* parent, const QString& text, BoxButtons buttons,
                          BoxIcon icon) = 0;
    void tell(QWidget* parent, const QString& text, BoxIcon icon) {
        ask(parent, text, BoxButtons::Ok, icon);
    }
    // A file to open: empty when cancelled. *filterIndex: the filter chosen
    // first, and the one the user ended with.
    virtual QString openFileName(QWidget* parent, const QString& title, const QString& start,
                                 const QString& filter, int* filterIndex) = 0;
    // A file to save to: empty when cancelled. defaultSuffix is added to a
    // name typed without one.
    virtual QString saveFileName(QWidget* parent, const QString& title, const QString& proposed,
                                 const QString& filter, const QString& defaultSuffix) = 0;
    // The parameters of a command that has some: true when confirmed.
    // preview: the preview image, locked by the caller's checks beforehand.
    virtual bool editParameters(QWidget* parent, CScriptCommand& command, KHANDLE preview) = 0;
    // The image list editor, on `path` when one is given (empty: a new list).
    virtual void editImageList(QWidget* parent, const QString& path) = 0;
    // The system's alert sound.
    virtual void beep() = 0;
};

// The real dialogs: QMessageBox, QFileDialog, the parameter editor.
class QtUserDialogs : public UserDialogs {
  public:
    BoxAnswer ask(QWidget* parent, const QString& text, BoxButtons buttons, BoxIcon icon) override;
    QString openFileName(QWidget* parent, const QString& title, const QString& start,
                         const QString& filter, int* filterIndex) override;
    QString saveFileName(QWidget* parent, const QString& title, const QString& proposed,
                         const QString& filter, const QString& defaultSuffix) override;
    bool editParameters(QWidget* parent, CScriptCommand& command, KHANDLE preview) override;
    void editImageList(QWidget* parent, const QString& path) override;
    void beep() override;
};
