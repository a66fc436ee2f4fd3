#include "app/imagelist/add_images_dialog.h"

#include "app/batch/batch_texts.h"
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

namespace {

// The one name or pattern typed into the chooser, without the quotes it
// puts around a picked name; several names are no typed name.
QString TypedName(const QFileDialog* files) {
    const auto* edit = files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    QString text = edit ? edit->text().trimmed() : QString();
    if (text.startsWith(QLatin1Char('"'))) {
        if (text.count(QLatin1Char('"')) != 2 || !text.endsWith(QLatin1Char('"'))) return {};
        text = text.mid(1, text.size() - 2);
    }
    return text;
}

} // namespace

CAddImagesDlg::CAddImagesDlg(const QString& startFolder, int filterIndex, QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("addImagesDialog"));
    setWindowTitle(UiText(ids::ListAddTitle));
    const DialogFilter filter = ParseDialogFilter(OpenDialogFilter());
    extensions_ = filter.extensions;

    files_ = new QFileDialog(this);
    files_->setObjectName(QStringLiteral("addFiles"));
    files_->setWindowFlags(Qt::Widget);
    files_->setOption(QFileDialog::DontUseNativeDialog);
    files_->setFileMode(QFileDialog::ExistingFiles);
    files_->setAcceptMode(QFileDialog::AcceptOpen);
    files_->setLabelText(QFileDialog::Accept, UiText(ids::ListAddButton));
    files_->setLabelText(QFileDialog::Reject, UiText(ids::ListCancel));
    files_->setNameFilters(filter.qtFilters);
    files_->selectNameFilter(filter.qtFilters.value(filterIndex, filter.qtFilters.value(0)));
    files_->setDirectory(QFileInfo(startFolder).isDir() ? startFolder : ToQt(HomeFolder()));
    if (auto* details = files_->findChild<QTreeView*>(QStringLiteral("treeView"))) {
        QHeaderView* header = details->header();
        header->setStretchLastSection(false);
        header->setSectionResizeMode(QHeaderView::ResizeToContents);
        header->setSectionResizeMode(0, QHeaderView::Stretch);
    }

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
    const int i = static_cast<int>(files_->nameFilters().indexOf(files_->selectedNameFilter()));
    return i < 0 ? 0 : i;
}

void CAddImagesDlg::filesPicked() {
    paths_.clear();
    for (const QString& p : files_->selectedFiles())
        paths_ << QFileInfo(p).absoluteFilePath();
    if (paths_.isEmpty()) return;
    accept();
}

void CAddImagesDlg::selectAll() {
    const int index = filterIndex();
    const std::string ext = index < int(extensions_.size()) ? extensions_[size_t(index)] : "";
    const std::string typed = SelectAllPattern(FromQt(TypedName(files_)), ext);
    std::string where, pattern;
    // A typed name may carry a folder of its own, relative to the chooser's.
    ResolveInputPattern(typed, FromQt(folder()), &where, &pattern);
    paths_.clear();
    const QDir dir(ToQt(where));
    for (const std::string& name : MatchingFiles(where, pattern))
        paths_ << dir.filePath(ToQt(name));
    accept();
}
