#include "app/batch/batch_input_dialog.h"

#include "app/batch/batch_texts.h"
#include "app/batch/image_chooser.h"
#include "batch/batch_mode.h"
#include "core/settings.h"
#include "formats/format_table.h"

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

CBatchInputDlg::CBatchInputDlg(const InputDialogStart& start, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("batchInputDialog"));
    setWindowTitle(UiText(ids::InputTitle));

    files_ = new ImageChooser(UiText(ids::InputNext), UiText(ids::ButtonCancel), start.filterIndex,
                              ToQt(start.folder), this);
    files_->setObjectName(QStringLiteral("inputFiles"));

    interrupt_ = new QCheckBox(UiText(ids::InputInterrupt));
    interrupt_->setObjectName(QStringLiteral("interruptOnErrors"));
    interrupt_->setChecked(start.showErrors);
    useScript_ = new QCheckBox(UiText(ids::InputUseScriptOutput));
    useScript_->setObjectName(QStringLiteral("useScriptOutput"));
    useScript_->setEnabled(start.scriptHasOutput);
    useScript_->setChecked(start.scriptHasOutput);
    selectAll_ = new QPushButton(UiText(ids::InputSelectAll));
    selectAll_->setObjectName(QStringLiteral("selectAll"));
    selectAll_->setAutoDefault(false);
    auto* help = new QPushButton(UiText(ids::Help));
    help->setObjectName(QStringLiteral("help"));
    help->setAutoDefault(false);

    auto* panel = new QFrame;
    panel->setObjectName(QStringLiteral("inputOptions"));
    panel->setFrameShape(QFrame::StyledPanel);
    auto* grid = new QGridLayout(panel);
    grid->addWidget(interrupt_, 0, 0);
    grid->addWidget(useScript_, 1, 0);
    grid->addWidget(selectAll_, 0, 2);
    grid->addWidget(help, 1, 2);
    grid->setColumnStretch(1, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(files_, 1);
    layout->addWidget(panel);

    connect(files_, &QFileDialog::accepted, this, &CBatchInputDlg::filesPicked);
    connect(files_, &QFileDialog::rejected, this, &QDialog::reject);
    connect(selectAll_, &QPushButton::clicked, this, &CBatchInputDlg::selectAll);
    connect(help, &QPushButton::clicked, this,
            [this] { QMessageBox::information(this, windowTitle(), UiText(ids::InputHelpText)); });
    resize(820, 560);
}

int CBatchInputDlg::filterIndex() const {
    return files_->filterIndex();
}

void CBatchInputDlg::takeOptions() {
    choice_.filterIndex = filterIndex();
    choice_.showErrors = interrupt_->isChecked();
    choice_.useScriptOutput = useScript_->isEnabled() && useScript_->isChecked();
}

void CBatchInputDlg::filesPicked() {
    const QStringList picked = files_->selectedFiles();
    if (picked.isEmpty()) return;
    choice_ = InputChoice{};
    const QDir folder = QFileInfo(picked.first()).absoluteDir();
    choice_.folder = FromQt(folder.absolutePath());
    // Names typed with a folder of their own stay reachable from the first's.
    for (const QString& p : picked)
        choice_.names.push_back(FromQt(folder.relativeFilePath(p)));
    takeOptions();
    accept();
}

void CBatchInputDlg::selectAll() {
    choice_ = InputChoice{};
    const std::string typed = files_->selectAllPattern();
    // A typed name may carry a folder of its own, relative to the chooser's.
    ResolveInputPattern(typed, FromQt(files_->directory().absolutePath()), &choice_.folder,
                        &choice_.pattern);
    takeOptions();
    accept();
}

QFileDialog* CBatchInputDlg::fileChooser() const {
    return files_;
}
