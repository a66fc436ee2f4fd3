#include "app/imagelist/input_options_dialog.h"

#include "app/batch/batch_texts.h"
#include "app/dialogs/command_dialog.h"
#include "app/imagelist/image_list_editor.h"
#include "app/imagelist/image_list_texts.h"
#include "app/imagelist/image_list_ui.h"
#include "app/user_dialogs.h"
#include "core/settings.h"
#include "script/commands.h"
#include "script/script.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// "Image List (*.brl)|..." as Qt's filter string.
QString QtListFilter() {
    return ParseDialogFilter(LoadString(ids::ListFilter)).qtFilters.join(QStringLiteral(";;"));
}

} // namespace

CInputOptionsDlg::CInputOptionsDlg(CScriptCommand& command, UserDialogs& dialogs,
                                   ImageListAsk& ask, QWidget* parent)
    : QDialog(parent), command_(command), dialogs_(dialogs), ask_(ask) {
    setObjectName(QStringLiteral("inputOptionsDialog"));
    setWindowTitle(UiText(ids::InputOptionsTitle));

    list_ = new QComboBox;
    list_->setObjectName(QStringLiteral("imageListName"));
    list_->setEditable(true);
    list_->setInsertPolicy(QComboBox::NoInsert);
    list_->setMinimumContentsLength(44);
    list_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    for (const std::string& l : LoadRecentImageLists(AppSettings()))
        list_->addItem(ToQt(l));
    list_->setEditText(ToQt(command.m_strParam[0]));
    auto* label = new QLabel(UiText(ids::InputOptionsList));
    label->setBuddy(list_);

    auto* browse = new QPushButton(UiText(ids::InputOptionsBrowse));
    browse->setObjectName(QStringLiteral("browse"));
    browse->setAutoDefault(false);
    auto* edit = new QPushButton(UiText(ids::InputOptionsEdit));
    edit->setObjectName(QStringLiteral("edit"));
    edit->setAutoDefault(false);

    interrupt_ = new QCheckBox(UiText(ids::InputInterrupt));
    interrupt_->setObjectName(QStringLiteral("interruptOnErrors"));
    // An unset value shows errors, as a run reads it.
    interrupt_->setChecked(command.m_nParam[0] != 0);
    useScript_ = new QCheckBox(UiText(ids::InputUseScriptOutput));
    useScript_->setObjectName(QStringLiteral("useScriptOutput"));
    useScript_->setChecked(ParamOr(command.m_nParam[1], 0) == 0);

    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    box->button(QDialogButtonBox::Ok)->setText(UiText(ids::ListOk));
    box->button(QDialogButtonBox::Cancel)->setText(UiText(ids::ListCancel));

    auto* grid = new QGridLayout;
    grid->addWidget(label, 0, 0, 1, 3);
    grid->addWidget(list_, 1, 0);
    grid->addWidget(browse, 1, 1);
    grid->addWidget(edit, 1, 2);
    grid->setColumnStretch(0, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addSpacing(8);
    layout->addWidget(interrupt_);
    layout->addWidget(useScript_);
    layout->addSpacing(8);
    layout->addWidget(box);

    connect(browse, &QPushButton::clicked, this, &CInputOptionsDlg::browse);
    connect(edit, &QPushButton::clicked, this, &CInputOptionsDlg::edit);
    connect(box, &QDialogButtonBox::accepted, this, &CInputOptionsDlg::accept);
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void CInputOptionsDlg::browse() {
    SettingsStore& store = AppSettings();
    int index = 0;
    const QString name =
        dialogs_.openFileName(this, UiText(ids::InputOptionsBrowseTitle),
                              ToQt(store.Get(setting::ImageListBrowseDir)), QtListFilter(), &index);
    if (name.isEmpty()) return;
    store.Set(setting::ImageListBrowseDir, FromQt(QFileInfo(name).absolutePath()));
    store.Save();
    list_->setEditText(name);
}

void CInputOptionsDlg::edit() {
    CImageListFileDlg editor(dialogs_, ask_, list_->currentText().trimmed(), this);
    editor.exec();
    // The list may have been saved under another name, or made new.
    if (!editor.fileName().isEmpty()) list_->setEditText(editor.fileName());
}

void CInputOptionsDlg::accept() {
    const QString name = list_->currentText().trimmed();
    if (name.isEmpty()) {
        dialogs_.tell(this, UiText(ids::ListRequired), BoxIcon::Exclamation);
        list_->setFocus();
        return;
    }
    command_.m_strParam[0] = FromQt(name);
    command_.m_nParam[0] = interrupt_->isChecked() ? 1 : 0;
    command_.m_nParam[1] = useScript_->isChecked() ? 0 : 1;

    std::vector<std::string> entries;
    for (int i = 0; i < list_->count(); ++i)
        entries.push_back(FromQt(list_->itemText(i)));
    SettingsStore& store = AppSettings();
    StoreRecentImageLists(store, RecentImageListsAfter(FromQt(name), entries));
    store.Set(setting::InterruptOnErr, interrupt_->isChecked() ? 1 : 0);
    store.Save();
    QDialog::accept();
}

std::unique_ptr<QDialog> MakeInputOptionsDialog(CScriptCommand& command, QWidget* parent) {
    if (command.m_nID != CMD_SET_INPUT_OPTIONS) return nullptr;
    // Both are stateless; the dialog only borrows them.
    static QtUserDialogs dialogs;
    static QtImageListAsk ask;
    return std::make_unique<CInputOptionsDlg>(command, dialogs, ask, parent);
}
