#include "app/user_dialogs.h"

#include "app/app_info.h"
#include "app/dialogs/command_dialog.h"
#include "app/imagelist/image_list_editor.h"
#include "app/imagelist/image_list_ui.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

namespace {

QMessageBox::Icon ToQt(BoxIcon icon) {
    switch (icon) {
    case BoxIcon::Information:
        return QMessageBox::Information;
    case BoxIcon::Exclamation:
        return QMessageBox::Warning;
    case BoxIcon::Error:
        return QMessageBox::Critical;
    case BoxIcon::Question:
        return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

} // namespace

BoxAnswer QtUserDialogs::ask(QWidget* parent, const QString& text, BoxButtons buttons,
                             BoxIcon icon) {
    QMessageBox box(ToQt(icon), ApplicationName(), text, QMessageBox::NoButton, parent);
    box.setObjectName(QStringLiteral("messageBox"));
    switch (buttons) {
    case BoxButtons::Ok:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case BoxButtons::OkCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        break;
    case BoxButtons::YesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        break;
    case BoxButtons::YesNoCancel:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        break;
    }
    switch (box.exec()) {
    case QMessageBox::Ok:
        return BoxAnswer::Ok;
    case QMessageBox::Yes:
        return BoxAnswer::Yes;
    case QMessageBox::No:
        return BoxAnswer::No;
    default:
        return BoxAnswer::Cancel;
    }
}

QString QtUserDialogs::openFileName(QWidget* parent, const QString& title, const QString& start,
                                    const QString& filter, int* filterIndex) {
    const QStringList filters = filter.split(QStringLiteral(";;"));
    QString selected;
    if (filterIndex && *filterIndex >= 0 && *filterIndex < filters.size())
        selected = filters[*filterIndex];
    const QString name = QFileDialog::getOpenFileName(parent, title, start, filter, &selected);
    if (!name.isEmpty() && filterIndex) *filterIndex = std::max<int>(0, filters.indexOf(selected));
    return name;
}

QString QtUserDialogs::saveFileName(QWidget* parent, const QString& title, const QString& proposed,
                                    const QString& filter, const QString& defaultSuffix) {
    QFileDialog dialog(parent, title, proposed, filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(defaultSuffix);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().constFirst();
}

bool QtUserDialogs::editParameters(QWidget* parent, CScriptCommand& command, KHANDLE preview) {
    const std::unique_ptr<QDialog> dialog = MakeCommandDialog(command, preview, parent);
    return dialog->exec() == QDialog::Accepted;
}

void QtUserDialogs::editImageList(QWidget* parent, const QString& path) {
    QtImageListAsk ask;
    CImageListFileDlg editor(*this, ask, path, parent);
    editor.exec();
}

void QtUserDialogs::beep() {
    QApplication::beep();
}
