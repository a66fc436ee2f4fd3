#include "app/batch/image_chooser.h"

#include "app/batch/batch_texts.h"
#include "batch/run_setup.h"
#include "core/settings.h"
#include "formats/format_table.h"

#include <QFileInfo>
#include <QHeaderView>
#include <QLineEdit>
#include <QTreeView>

namespace {

// The name typed into the chooser: one name or pattern, without the quotes
// the chooser puts around a picked name. Several picked names are no typed
// name.
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

ImageChooser::ImageChooser(const QString& acceptText, const QString& rejectText, int filterIndex,
                           const QString& folder, QWidget* parent)
    : QFileDialog(parent) {
    const DialogFilter filter = ParseDialogFilter(OpenDialogFilter());
    extensions_ = filter.extensions;
    setWindowFlags(Qt::Widget);
    setOption(QFileDialog::DontUseNativeDialog);
    setFileMode(QFileDialog::ExistingFiles);
    setAcceptMode(QFileDialog::AcceptOpen);
    setLabelText(QFileDialog::Accept, acceptText);
    setLabelText(QFileDialog::Reject, rejectText);
    setNameFilters(filter.qtFilters);
    selectNameFilter(filter.qtFilters.value(filterIndex, filter.qtFilters.value(0)));
    setDirectory(QFileInfo(folder).isDir() ? folder : ToQt(HomeFolder()));
    // The detail view's columns fit their contents; the name takes the rest.
    if (auto* details = findChild<QTreeView*>(QStringLiteral("treeView"))) {
        QHeaderView* header = details->header();
        header->setStretchLastSection(false);
        header->setSectionResizeMode(QHeaderView::ResizeToContents);
        header->setSectionResizeMode(0, QHeaderView::Stretch);
    }
}

int ImageChooser::filterIndex() const {
    const int i = static_cast<int>(nameFilters().indexOf(selectedNameFilter()));
    return i < 0 ? 0 : i;
}

std::string ImageChooser::selectAllPattern() const {
    const int index = filterIndex();
    const std::string ext = index < int(extensions_.size()) ? extensions_[size_t(index)] : "";
    return SelectAllPattern(FromQt(TypedName(this)), ext);
}
