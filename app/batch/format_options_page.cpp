#include "app/batch/format_options_page.h"

#include "app/app_info.h"
#include "app/batch/batch_texts.h"
#include "core/settings.h"

#include <QButtonGroup>
#include <QColorDialog>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int kDpiSet = 0, kDpiMaintain = 1;

QColor FromColorRef(COLORREF c) {
    return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
}
COLORREF ToColorRef(const QColor& c) {
    return static_cast<COLORREF>(c.red()) | static_cast<COLORREF>(c.green()) << 8 |
           static_cast<COLORREF>(c.blue()) << 16;
}

// The colour chooser's 16 custom colours live in "CustomColors"/"ColorRefs",
// so every colour chooser of the program offers the same ones.
void LoadCustomColours() {
    const std::vector<uint8_t> bytes = AppSettings().Get(setting::ColorRefs);
    for (int i = 0; i < QColorDialog::customCount() && (i + 1) * 4 <= int(bytes.size()); ++i) {
        const uint8_t* b = &bytes[size_t(i) * 4];
        QColorDialog::setCustomColor(i, QColor(b[0], b[1], b[2]));
    }
}
void StoreCustomColours() {
    std::vector<uint8_t> bytes;
    for (int i = 0; i < QColorDialog::customCount(); ++i) {
        const QColor c = QColorDialog::customColor(i);
        bytes.insert(bytes.end(), {uint8_t(c.red()), uint8_t(c.green()), uint8_t(c.blue()), 0});
    }
    AppSettings().Set(setting::ColorRefs, bytes);
    AppSettings().Save();
}

QSpinBox* SpinBox(const char* name, int lo, int hi, int value) {
    auto* box = new QSpinBox;
    box->setObjectName(QLatin1String(name));
    box->setRange(lo, hi);
    box->setValue(std::clamp(value, lo, hi));
    box->setAccelerated(true);
    return box;
}

QRadioButton* Radio(const char* name, int textId, QButtonGroup* group, int id) {
    auto* r = new QRadioButton(UiText(textId));
    r->setObjectName(QLatin1String(name));
    group->addButton(r, id);
    return r;
}

} // namespace

bool PageHasResolution(OptionsPage kind) {
    return kind == OptionsPage::CompressionAndResolution || kind == OptionsPage::Resolution ||
           kind == OptionsPage::QzmVersionAndResolution ||
           kind == OptionsPage::ChannelsAndResolution;
}

FormatOptionsPage::FormatOptionsPage(OptionsPage kind, const OutputOptions& options,
                                     QWidget* parent)
    : QDialog(parent), kind_(kind), options_(options), colour_(options.transparentColor) {
    setObjectName(QStringLiteral("formatOptionsPage"));
    setWindowTitle(UiText(ids::PageTitle));
    auto* layout = new QVBoxLayout(this);
    switch (kind) {
    case OptionsPage::CompressionAndResolution:
        layout->addWidget(makeCompression());
        layout->addWidget(makeResolution());
        break;
    case OptionsPage::Resolution:
        layout->addWidget(makeResolution());
        break;
    case OptionsPage::Transparency:
        layout->addWidget(makeTransparency());
        break;
    case OptionsPage::Compression:
        layout->addWidget(makeCompression());
        break;
    case OptionsPage::QzmVersionAndResolution:
        layout->addWidget(makeQzmVersion());
        layout->addWidget(makeResolution());
        break;
    case OptionsPage::ChannelsAndResolution:
        layout->addWidget(makeChannels());
        layout->addWidget(makeResolution());
        break;
    case OptionsPage::None:
        break;
    }
    layout->addStretch(1);

    auto* buttons = new QDialogButtonBox;
    QPushButton* ok = buttons->addButton(UiText(ids::Ok), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("ok"));
    ok->setDefault(true);
    QPushButton* cancel =
        buttons->addButton(UiText(ids::ButtonCancel), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("cancel"));
    QPushButton* help = buttons->addButton(UiText(ids::Help), QDialogButtonBox::HelpRole);
    help->setObjectName(QStringLiteral("help"));
    connect(buttons, &QDialogButtonBox::accepted, this, &FormatOptionsPage::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(help, &QPushButton::clicked, this, [this] {
        QMessageBox::information(this, UiText(ids::PageTitle), UiText(ids::PageHelpText));
    });
    layout->addWidget(buttons);
    updateEnabling();
    setMinimumWidth(360);
}

QWidget* FormatOptionsPage::makeResolution() {
    auto* group = new QGroupBox(UiText(ids::PageResolutionGroup));
    auto* grid = new QGridLayout(group);
    dpiChoice_ = new QButtonGroup(this);
    QRadioButton* set = Radio("setDpi", ids::PageSetDpi, dpiChoice_, kDpiSet);
    QRadioButton* keep = Radio("maintainDpi", ids::PageMaintainDpi, dpiChoice_, kDpiMaintain);
    dpi_ = SpinBox("dpi", 1, 2400, options_.dpi);
    grid->addWidget(set, 0, 0);
    grid->addWidget(dpi_, 0, 1);
    grid->addWidget(keep, 1, 0, 1, 2);
    grid->setColumnStretch(2, 1);
    (options_.maintainDPI ? keep : set)->setChecked(true);
    connect(dpiChoice_, &QButtonGroup::idToggled, this, [this] { updateEnabling(); });
    return group;
}

QWidget* FormatOptionsPage::makeCompression() {
    auto* group = new QGroupBox(UiText(ids::PageCompressionGroup));
    auto* grid = new QGridLayout(group);
    auto* label = new QLabel(UiText(ids::PageCompression));
    compression_ = SpinBox("compression", 1, 99, options_.compression);
    label->setBuddy(compression_);
    grid->addWidget(label, 0, 0);
    grid->addWidget(compression_, 0, 1);
    grid->setColumnStretch(2, 1);
    return group;
}

QWidget* FormatOptionsPage::makeTransparency() {
    auto* group = new QGroupBox(UiText(ids::PageTransparencyGroup));
    auto* grid = new QGridLayout(group);
    transparency_ = new QButtonGroup(this);
    grid->addWidget(Radio("transparencyKeep", ids::PageTransKeep, transparency_, 0), 0, 0, 1, 3);
    grid->addWidget(Radio("transparencyNone", ids::PageTransNone, transparency_, 1), 1, 0, 1, 3);
    grid->addWidget(Radio("transparencyColour", ids::PageTransColor, transparency_, 2), 2, 0);
    colourButton_ = new QPushButton(UiText(ids::PageColorButton));
    colourButton_->setObjectName(QStringLiteral("transparentColour"));
    colourSwatch_ = new QLabel;
    colourSwatch_->setObjectName(QStringLiteral("transparentColourSwatch"));
    colourSwatch_->setFixedSize(36, 20);
    colourSwatch_->setFrameShape(QFrame::Box);
    grid->addWidget(colourButton_, 2, 1);
    grid->addWidget(colourSwatch_, 2, 2);
    grid->addWidget(Radio("transparencyIndex", ids::PageTransIndex, transparency_, 3), 3, 0);
    transIndex_ = SpinBox("transparentIndex", 0, 255, options_.transparencyIndex);
    grid->addWidget(transIndex_, 3, 1);
    grid->setColumnStretch(3, 1);
    if (QAbstractButton* b = transparency_->button(options_.transparencyType))
        b->setChecked(true);
    else
        transparency_->button(1)->setChecked(true);
    connect(transparency_, &QButtonGroup::idToggled, this, [this] { updateEnabling(); });
    connect(colourButton_, &QPushButton::clicked, this, &FormatOptionsPage::chooseColour);
    showColour();
    return group;
}

QWidget* FormatOptionsPage::makeQzmVersion() {
    auto* group = new QGroupBox(UiText(ids::PageVersion));
    auto* box = new QVBoxLayout(group);
    qzm_ = new QButtonGroup(this);
    // Stored as 1, 0, 2 for versions 5, 6, 7.
    box->addWidget(Radio("qzm5", ids::PageQzm5, qzm_, 1));
    box->addWidget(Radio("qzm6", ids::PageQzm6, qzm_, 0));
    box->addWidget(Radio("qzm7", ids::PageQzm7, qzm_, 2));
    if (QAbstractButton* b = qzm_->button(options_.qzmVersion))
        b->setChecked(true);
    else
        qzm_->button(1)->setChecked(true);
    return group;
}

QWidget* FormatOptionsPage::makeChannels() {
    auto* group = new QGroupBox(UiText(ids::PageChannels));
    auto* box = new QVBoxLayout(group);
    channels_ = new QButtonGroup(this);
    box->addWidget(Radio("rgb", ids::PageRgb, channels_, 1));
    box->addWidget(Radio("cmyk", ids::PageCmyk, channels_, 2));
    (options_.planeEncoding == 2 ? channels_->button(2) : channels_->button(1))->setChecked(true);
    return group;
}

void FormatOptionsPage::updateEnabling() {
    if (dpi_) dpi_->setEnabled(dpiChoice_->checkedId() == kDpiSet);
    if (transparency_) {
        colourButton_->setEnabled(transparency_->checkedId() == 2);
        colourSwatch_->setEnabled(transparency_->checkedId() == 2);
        transIndex_->setEnabled(transparency_->checkedId() == 3);
    }
}

void FormatOptionsPage::showColour() {
    colourSwatch_->setStyleSheet(
        QStringLiteral("background-color: %1;").arg(FromColorRef(colour_).name()));
}

void FormatOptionsPage::chooseColour() {
    LoadCustomColours();
    QColorDialog dialog(FromColorRef(colour_), this);
    dialog.setObjectName(QStringLiteral("transparentColourDialog"));
    dialog.setWindowTitle(UiText(ids::PageColorTitle));
    dialog.setOption(QColorDialog::DontUseNativeDialog);
    if (dialog.exec() != QDialog::Accepted) return;
    colour_ = ToColorRef(dialog.selectedColor());
    StoreCustomColours();
    showColour();
}

bool FormatOptionsPage::checkRange(QSpinBox* box) {
    if (!box || !box->isEnabled() || box->hasAcceptableInput()) return true;
    QMessageBox message(QMessageBox::Warning, ApplicationName(),
                        UiFormat(ids::PageRange, box->minimum(), box->maximum()), QMessageBox::Ok,
                        this);
    message.setObjectName(QStringLiteral("rangeError"));
    message.button(QMessageBox::Ok)->setObjectName(QStringLiteral("ok"));
    message.exec();
    box->setFocus();
    box->selectAll();
    return false;
}

void FormatOptionsPage::accept() {
    for (QSpinBox* box : {dpi_, compression_, transIndex_})
        if (!checkRange(box)) return;
    if (dpi_) {
        options_.maintainDPI = dpiChoice_->checkedId() == kDpiMaintain ? 1 : 0;
        options_.dpi = dpi_->value();
    }
    if (compression_) options_.compression = compression_->value();
    if (transparency_) {
        options_.transparencyType = transparency_->checkedId();
        options_.transparencyIndex = transIndex_->value();
        options_.transparentColor = colour_;
    }
    if (qzm_) options_.qzmVersion = qzm_->checkedId();
    if (channels_) options_.planeEncoding = channels_->checkedId();
    QDialog::accept();
}
