#include "app/imagelist/add_images_dialog.h"

#include "app/batch/batch_texts.h"
#include "app/batch/image_chooser.h"
#include "app/imagelist/image_list_texts.h"
#include "batch/batch_mode.h"
#include "batch/image_list.h"
#include "batch/run_setup.h"
#include "core/settings.h"
#include "formats/format_table.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

CAddImagesDlg::CAddImagesDlg(const QString& startFolder, int filterIndex, QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("addImagesDialog"));
    setWindowTitle(UiText(ids::ListAddTitle));
    files_ = new ImageChooser(UiText(ids::ListAddButton), UiText(ids::ListCancel), filterIndex,
                              startFolder, this);
    files_->setObjectName(QStringLiteral("addFiles"));

    auto* selectAll = new QPushButton(UiText(ids::InputSelectAll));
    selectAll->setObjectName(QStringLiteral("selectAll"));
    selectAll->setAutoDefault(false);
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(selectAll);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(files_, 1);
    layout->addLayout(row);

    connect(files_, &QFileDialog::accepted, this, &CAddImagesDlg::filesPicked);
    connect(files_, &QFileDialog::rejected, this, &QDialog::reject);
    connect(selectAll, &QPushButton::clicked, this, &CAddImagesDlg::selectAll);
    resize(820, 540);
}

QString CAddImagesDlg::folder() const {
    return files_->directory().absolutePath();
}

int CAddImagesDlg::filterIndex() const {
    return files_->filterIndex();
}

void CAddImagesDlg::filesPicked() {
    paths_.clear();
    for (const QString& p : files_->selectedFiles())
        paths_ << QFileInfo(p).absoluteFilePath();
    if (paths_.isEmpty()) return;
    accept();
}

void CAddImagesDlg::selectAll() {
    const std::string typed = files_->selectAllPattern();
    std::string where, pattern;
    // A typed name may carry a folder of its own, relative to the chooser's.
    ResolveInputPattern(typed, FromQt(folder()), &where, &pattern);
    paths_.clear();
    const QDir dir(ToQt(where));
    for (const std::string& name : MatchingFiles(where, pattern))
        paths_ << dir.filePath(ToQt(name));
    accept();
}

QFileDialog* CAddImagesDlg::fileChooser() const {
    return files_;
}
