#include "app/imagelist/folder_error_dialog.h"

#include "app/imagelist/image_list_texts.h"
#include "app/imagelist/image_list_ui.h"
#include "app/qt_text.h"
#include "app/user_dialogs.h"
#include "core/settings.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int kNotPlaced = -32768;

// Where Browse starts: the typed folder, else the nearest folder above the
// missing one that exists, else home.
QString BrowseStart(const QString& typed, const std::string& missing) {
    if (!typed.isEmpty() && QFileInfo(typed).isDir()) return typed;
    QString f = FromPath(missing);
    while (!f.isEmpty() && f != QStringLiteral("/")) {
        f = QFileInfo(f).path();
        if (QFileInfo(f).isDir()) return f;
    }
    return FromPath(HomeFolder());
}

} // namespace

CFolderErrorDlg::CFolderErrorDlg(const std::string& folder, UserDialogs& dialogs,
                                 ImageListAsk& ask, SettingsStore& store, QWidget* parent)
    : QDialog(parent), folder_(folder), dialogs_(dialogs), ask_(ask), store_(store) {
    setObjectName(QStringLiteral("folderErrorDialog"));
    setWindowTitle(QText(ids::FolderErrorTitle));

    auto* text = new QLabel(QText(ids::FolderErrorText));
    text->setWordWrap(true);
    auto* name = new QLabel(FromPath(folder));
    name->setObjectName(QStringLiteral("missingFolder"));
    name->setTextInteractionFlags(Qt::TextSelectableByMouse);
    name->setWordWrap(true);
    QFont bold = name->font();
    bold.setBold(true);
    name->setFont(bold);

    change_ = new QRadioButton(QText(ids::FolderErrorChange));
    change_->setObjectName(QStringLiteral("changeFolder"));
    delete_ = new QRadioButton(QText(ids::FolderErrorDelete));
    delete_->setObjectName(QStringLiteral("deleteFolder"));
    ignore_ = new QRadioButton(QText(ids::FolderErrorIgnore));
    ignore_->setObjectName(QStringLiteral("ignoreFolder"));
    auto* group = new QButtonGroup(this);
    group->addButton(change_, 0);
    group->addButton(delete_, 1);
    group->addButton(ignore_, 2);

    newFolder_ = new QComboBox;
    newFolder_->setObjectName(QStringLiteral("newFolder"));
    newFolder_->setEditable(true);
    newFolder_->setInsertPolicy(QComboBox::NoInsert);
    newFolder_->setMinimumContentsLength(40);
    newFolder_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    for (const std::string& f : LoadVerifyFolders(store))
        newFolder_->addItem(FromPath(f));
    browse_ = new QPushButton(QText(ids::InputOptionsBrowse));
    browse_->setObjectName(QStringLiteral("browse"));
    browse_->setAutoDefault(false);

    auto* ok = new QPushButton(QText(ids::ListOk));
    ok->setObjectName(QStringLiteral("ok"));
    ok->setDefault(true);
    auto* retry = new QPushButton(QText(ids::FolderErrorRetry));
    retry->setObjectName(QStringLiteral("retry"));
    retry->setAutoDefault(false);
    auto* abort = new QPushButton(QText(ids::FolderErrorAbort));
    abort->setObjectName(QStringLiteral("abort"));
    abort->setAutoDefault(false);

    auto* choices = new QGridLayout;
    choices->setColumnMinimumWidth(0, 22);
    choices->addWidget(change_, 0, 0, 1, 3);
    choices->addWidget(newFolder_, 1, 1);
    choices->addWidget(browse_, 1, 2);
    choices->addWidget(delete_, 2, 0, 1, 3);
    choices->addWidget(ignore_, 3, 0, 1, 3);
    choices->setColumnStretch(1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(retry);
    buttons->addWidget(abort);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text);
    layout->addWidget(name);
    layout->addSpacing(6);
    layout->addLayout(choices);
    layout->addSpacing(6);
    layout->addLayout(buttons);

    const int op = static_cast<int>(store.Get(setting::VerifyOp));
    (group->button(op) ? group->button(op) : change_)->setChecked(true);
    enableCombo();

    connect(group, &QButtonGroup::idToggled, this, [this] { enableCombo(); });
    connect(browse_, &QPushButton::clicked, this, &CFolderErrorDlg::browse);
    connect(ok, &QPushButton::clicked, this, &CFolderErrorDlg::okPressed);
    connect(retry, &QPushButton::clicked, this, [this] {
        choice_ = {FolderChoice::Retry, {}};
        done(QDialog::Accepted);
    });
    connect(abort, &QPushButton::clicked, this, &QDialog::reject);
}

void CFolderErrorDlg::enableCombo() {
    newFolder_->setEnabled(change_->isChecked());
    browse_->setEnabled(change_->isChecked());
}

void CFolderErrorDlg::browse() {
    const QString f = ask_.chooseFolder(this, QText(ids::FolderBrowseTitle),
                                        BrowseStart(newFolder_->currentText().trimmed(), folder_));
    if (!f.isEmpty()) newFolder_->setEditText(f);
}

void CFolderErrorDlg::okPressed() {
    if (change_->isChecked()) {
        const std::string typed = NormalisedFolder(ToPath(newFolder_->currentText().trimmed()));
        if (typed.empty() || !FolderExists(typed)) {
            dialogs_.tell(this, QFormat(ids::FolderMissing, typed), BoxIcon::Exclamation);
            return;
        }
        StoreVerifyFolders(store_, PushRecentFolder(LoadVerifyFolders(store_), typed));
        choice_ = {FolderChoice::Change, typed};
    } else {
        choice_ = {delete_->isChecked() ? FolderChoice::Delete : FolderChoice::Ignore, {}};
    }
    done(QDialog::Accepted);
}

void CFolderErrorDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (placed_) return;
    placed_ = true;
    const int left = static_cast<int>(store_.Get(setting::ErrDlgPosLeft));
    const int top = static_cast<int>(store_.Get(setting::ErrDlgPosTop));
    if (left == kNotPlaced || top == kNotPlaced) return;
    // Kept on the screen, whatever screens there are now.
    QPoint at(left, top);
    const QScreen* screen = QGuiApplication::screenAt(at);
    if (!screen) screen = this->screen();
    if (screen) {
        const QRect area = screen->availableGeometry();
        at.setX(std::clamp(at.x(), area.left(), std::max(area.left(), area.right() - width())));
        at.setY(std::clamp(at.y(), area.top(), std::max(area.top(), area.bottom() - height())));
    }
    move(at);
}

void CFolderErrorDlg::done(int result) {
    // Escape and the window's close button abort, as Abort does.
    if (result != QDialog::Accepted) choice_ = {FolderChoice::Abort, {}};
    store_.Set(setting::VerifyOp, change_->isChecked() ? 0 : delete_->isChecked() ? 1 : 2);
    if (isVisible()) {
        store_.Set(setting::ErrDlgPosLeft, pos().x());
        store_.Set(setting::ErrDlgPosTop, pos().y());
    }
    store_.Save();
    QDialog::done(result);
}
