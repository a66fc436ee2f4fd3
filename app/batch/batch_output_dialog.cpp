#include "app/batch/batch_output_dialog.h"

#include "app/app_info.h"
#include "app/batch/batch_texts.h"
#include "app/batch/format_options_page.h"
#include "batch/run_setup.h"
#include "core/settings.h"
#include "formats/format_table.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cctype>
#include <vector>

namespace {

std::string Lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The formats in the order the type list shows them.
std::vector<const OutputFormatEntry*> FormatsByExtension() {
    std::vector<const OutputFormatEntry*> v;
    for (const OutputFormatEntry& f : OutputFormats())
        v.push_back(&f);
    std::stable_sort(v.begin(), v.end(),
                     [](const OutputFormatEntry* a, const OutputFormatEntry* b) {
                         return Lower(a->ext) < Lower(b->ext);
                     });
    return v;
}

} // namespace

QString ElideFolderText(const QString& text, const std::function<bool(const QString&)>& fits) {
    if (fits(text)) return text;
    const QString dots = QStringLiteral("...");
    QString cut = text;
    while (cut.size() > 3) {
        cut.chop(1);
        if (fits(cut + dots)) break;
    }
    return cut + dots;
}

ElidedFolderLabel::ElidedFolderLabel(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void ElidedFolderLabel::setFolder(const QString& folder) {
    folder_ = folder;
    setToolTip(folder);
    refresh();
}

QSize ElidedFolderLabel::minimumSizeHint() const {
    return QSize(fontMetrics().horizontalAdvance(QStringLiteral("MMM...")),
                 QLabel::minimumSizeHint().height());
}

void ElidedFolderLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    refresh();
}

void ElidedFolderLabel::refresh() {
    const QFontMetrics fm = fontMetrics();
    const int room = contentsRect().width();
    setText(ElideFolderText(folder_,
                            [&](const QString& t) { return fm.horizontalAdvance(t) <= room; }));
}

CBatchOutputDlg::CBatchOutputDlg(const OutputSettings& start, const SettingsStore& store,
                                 QWidget* parent)
    : QDialog(parent), store_(store), settings_(start) {
    setObjectName(QStringLiteral("batchOutputDialog"));
    setWindowTitle(UiText(ids::OutputTitle));

    type_ = new QComboBox;
    type_->setObjectName(QStringLiteral("outputType"));
    subType_ = new QComboBox;
    subType_->setObjectName(QStringLiteral("subType"));
    options_ = new QPushButton(UiText(ids::OutputOptions));
    options_->setObjectName(QStringLiteral("formatOptions"));
    folder_ = new QLineEdit;
    folder_->setObjectName(QStringLiteral("outputFolderEdit"));
    browse_ = new QPushButton(UiText(ids::OutputBrowse));
    browse_->setObjectName(QStringLiteral("browseFolder"));
    folderShown_ = new ElidedFolderLabel;
    folderShown_->setObjectName(QStringLiteral("outputFolder"));
    retain_ = new QCheckBox(UiText(ids::OutputRetain));
    retain_->setObjectName(QStringLiteral("retainDirectory"));
    notWritable_ = new QLabel;
    notWritable_->setObjectName(QStringLiteral("notWritable"));
    notWritable_->setWordWrap(true);
    notWritable_->setStyleSheet(QStringLiteral("color: #a33;"));

    auto* grid = new QGridLayout;
    auto label = [&](int id, QWidget* buddy) {
        auto* l = new QLabel(UiText(id));
        l->setBuddy(buddy);
        return l;
    };
    grid->addWidget(label(ids::OutputSaveAsType, type_), 0, 0);
    grid->addWidget(type_, 0, 1, 1, 2);
    grid->addWidget(label(ids::OutputSubType, subType_), 1, 0);
    grid->addWidget(subType_, 1, 1);
    grid->addWidget(options_, 1, 2);
    grid->addWidget(label(ids::OutputSaveIn, folder_), 2, 0);
    grid->addWidget(folder_, 2, 1);
    grid->addWidget(browse_, 2, 2);
    grid->addWidget(new QLabel(UiText(ids::OutputFolderLabel)), 3, 0);
    grid->addWidget(folderShown_, 3, 1, 1, 2);
    grid->addWidget(retain_, 4, 1, 1, 2);
    grid->addWidget(notWritable_, 5, 1, 1, 2);
    grid->setColumnStretch(1, 1);
    grid->setVerticalSpacing(8);

    auto* buttons = new QDialogButtonBox;
    finish_ = buttons->addButton(UiText(ids::OutputFinish), QDialogButtonBox::AcceptRole);
    finish_->setObjectName(QStringLiteral("finish"));
    finish_->setDefault(true);
    QPushButton* cancel =
        buttons->addButton(UiText(ids::ButtonCancel), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("cancel"));
    QPushButton* help = buttons->addButton(UiText(ids::Help), QDialogButtonBox::HelpRole);
    help->setObjectName(QStringLiteral("help"));

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addStretch(1);
    layout->addWidget(buttons);

    fillTypes(start.id);
    folder_->setText(start.folder.empty() ? QStringLiteral("/") : ToQt(start.folder));
    folderShown_->setFolder(folderFromField());
    retain_->setChecked(start.retainDirectory);

    connect(type_, &QComboBox::currentIndexChanged, this, &CBatchOutputDlg::typeChanged);
    connect(folder_, &QLineEdit::textChanged, this, &CBatchOutputDlg::folderEdited);
    connect(browse_, &QPushButton::clicked, this, &CBatchOutputDlg::browse);
    connect(options_, &QPushButton::clicked, this, &CBatchOutputDlg::openOptions);
    connect(retain_, &QCheckBox::toggled, this, &CBatchOutputDlg::updateEnabling);
    connect(buttons, &QDialogButtonBox::accepted, this, &CBatchOutputDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(help, &QPushButton::clicked, this,
            [this] { QMessageBox::information(this, windowTitle(), UiText(ids::OutputHelpText)); });
    updateEnabling();
    setMinimumWidth(520);
}

void CBatchOutputDlg::fillTypes(int id) {
    const QSignalBlocker block(type_);
    type_->clear();
    for (const OutputFormatEntry* f : FormatsByExtension())
        type_->addItem(UiFormat(ids::OutputTypeEntry,
                                QString::fromLatin1(f->ext).toUpper().toStdString(),
                                f->displayName),
                       f->id);
    int row = type_->findData(id);
    if (row < 0) row = type_->findData(static_cast<int>(setting::OutID.def));
    type_->setCurrentIndex(row);
    const int current = currentFormat();
    fillSubTypes(current, current == settings_.id ? ClampSubType(current, settings_.subType)
                                                  : StoredSubType(store_, current));
}

void CBatchOutputDlg::fillSubTypes(int id, int selected) {
    subType_->clear();
    const OutputFormatEntry* f = FindOutputFormat(id);
    for (int i = 0; i < std::max(f->subTypeCount, 1); ++i)
        subType_->addItem(ToQt(OutputSubTypeName(id, i)));
    subType_->setCurrentIndex(selected);
}

int CBatchOutputDlg::currentFormat() const {
    return type_->currentData().toInt();
}

void CBatchOutputDlg::typeChanged() {
    const int id = currentFormat();
    fillSubTypes(id, StoredSubType(store_, id));
    updateEnabling();
}

void CBatchOutputDlg::folderEdited() {
    folderShown_->setFolder(folderFromField());
}

QString CBatchOutputDlg::folderFromField() const {
    QString text = folder_->text().trimmed();
    const QString home = ToQt(HomeFolder());
    if (text.isEmpty()) return home;
    if (text == QLatin1String("~"))
        text = home;
    else if (text.startsWith(QLatin1String("~/")))
        text = home + text.mid(1);
    else if (!text.startsWith(QLatin1Char('/')))
        text = home + QLatin1Char('/') + text;
    QString clean = QDir::cleanPath(text);
    return clean;
}

void CBatchOutputDlg::browse() {
    QFileDialog chooser(this, UiText(ids::OutputChooseFolder));
    chooser.setObjectName(QStringLiteral("folderChooser"));
    chooser.setOption(QFileDialog::DontUseNativeDialog);
    chooser.setFileMode(QFileDialog::Directory);
    chooser.setOption(QFileDialog::ShowDirsOnly);
    // Start in the nearest folder that exists.
    QString start = folderFromField();
    while (!QFileInfo(start).isDir() && start != QLatin1String("/"))
        start = QFileInfo(start).absolutePath();
    chooser.setDirectory(start);
    if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty()) return;
    folder_->setText(chooser.selectedFiles().first());
}

void CBatchOutputDlg::openOptions() {
    const OutputFormatEntry* f = FindOutputFormat(currentFormat());
    if (!f || f->page == OptionsPage::None) return;
    FormatOptionsPage page(f->page, settings_.options, this);
    if (page.exec() == QDialog::Accepted) settings_.options = page.options();
}

void CBatchOutputDlg::updateEnabling() {
    const OutputFormatEntry* f = FindOutputFormat(currentFormat());
    options_->setEnabled(f && f->page != OptionsPage::None);
    const bool writable = IsOutputFormatWritable(currentFormat());
    notWritable_->setText(writable ? QString()
                                   : UiFormat(ids::OutputNotWritable,
                                              QString::fromLatin1(f->ext).toUpper().toStdString()));
    notWritable_->setVisible(!writable);
    finish_->setEnabled(writable);
    const bool ownFolder = !retain_->isChecked();
    folder_->setEnabled(ownFolder);
    browse_->setEnabled(ownFolder);
    folderShown_->setEnabled(ownFolder);
}

OutputSettings CBatchOutputDlg::settings() const {
    OutputSettings s = settings_;
    s.id = currentFormat();
    s.subType = ClampSubType(s.id, subType_->currentIndex());
    s.folder = WithoutTrailingSlash(FromQt(folderFromField()));
    s.retainDirectory = retain_->isChecked();
    return s;
}

void CBatchOutputDlg::accept() {
    if (!IsOutputFormatWritable(currentFormat())) return;
    const OutputSettings s = settings();
    std::string reason;
    if (!s.retainDirectory && !EnsureOutputFolder(s.folder, &reason)) {
        QMessageBox box(
            QMessageBox::Warning, ApplicationName(),
            UiFormat(ids::OutputFolderNotMade, s.folder.empty() ? "/" : s.folder, reason),
            QMessageBox::Ok, this);
        box.setObjectName(QStringLiteral("outputFolderError"));
        box.button(QMessageBox::Ok)->setObjectName(QStringLiteral("ok"));
        box.exec();
        folder_->setFocus();
        folder_->selectAll();
        return;
    }
    settings_ = s;
    QDialog::accept();
}
