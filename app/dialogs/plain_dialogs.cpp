#include "app/dialogs/plain_dialogs.h"

#include "app/color_chooser.h"
#include "app/dialogs/color_button.h"
#include "app/dialogs/command_dialog.h"
#include "app/dialogs/plain_dialog.h"
#include "app/dialogs/plain_dialog_strings.h"
#include "app/dialogs/reduction_rules.h"
#include "app/preview/preview_image.h"
#include "app/qt_text.h"
#include "core/settings.h"
#include "formats/format_table.h"
#include "formats/imagefile.h"
#include "imaging/palette.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

#include <array>
#include <vector>

namespace {

using S = Slot;

// Rows of "label: field" in a grid, the label's buddy the field.
void AddRow(QGridLayout* grid, int text, QWidget* field) {
    const int row = grid->rowCount();
    auto* label = new QLabel(QText(text));
    label->setBuddy(field);
    grid->addWidget(label, row, 0);
    grid->addWidget(field, row, 1);
}

QGridLayout* Grid() {
    auto* grid = new QGridLayout;
    grid->setColumnStretch(1, 1);
    grid->setHorizontalSpacing(10);
    return grid;
}

// Keeps a set of spin boxes equal while `on` is checked: a change in one is
// copied to the others; checking copies the first one's value.
void MakeSymmetric(QCheckBox* on, std::vector<QSpinBox*> boxes) {
    auto copy = [boxes](int value) {
        for (QSpinBox* b : boxes) {
            const QSignalBlocker block(b);
            b->setValue(value);
        }
    };
    for (QSpinBox* box : boxes)
        QObject::connect(box, &QSpinBox::valueChanged, on, [on, copy](int v) {
            if (on->isChecked()) copy(v);
        });
    QObject::connect(on, &QCheckBox::toggled, on, [boxes, copy](bool checked) {
        if (checked) copy(boxes.front()->value());
    });
    if (on->isChecked()) copy(boxes.front()->value());
}

QGroupBox* Framed(int title, QLayout* content) {
    auto* box = new QGroupBox(title ? QText(title) : QString());
    box->setLayout(content);
    return box;
}

QVBoxLayout* Column(QButtonGroup* choice) {
    auto* column = new QVBoxLayout;
    for (QAbstractButton* b : choice->buttons())
        column->addWidget(b);
    return column;
}

// ---- 501 Resize/Resample Image ----

class ResizeDialog : public PlainDialog {
  public:
    ResizeDialog(CScriptCommand& c, QWidget* parent) : PlainDialog(c, 0, parent) {
        // A fixed size (modes 0..4, from scripts made elsewhere) is shown as
        // both sizes in pixels. An unset command shows the default sizes.
        const int32_t mode = initial(S::P0);
        int32_t width = initial(S::P2), height = initial(S::P3);
        const bool fixed =
            IntSlot(c, S::P0) != PARAM_UNSET && ResizeFixedSize(mode, &width, &height);

        auto* kindChoice = new QButtonGroup(this);
        kindChoice->setObjectName(QStringLiteral("sizeKind"));
        auto* imageSize = new QRadioButton(QText(dlgids::ImageSize));
        imageSize->setObjectName(QStringLiteral("sizeKind_image"));
        auto* tileSize = new QRadioButton(QText(dlgids::TileSize));
        tileSize->setObjectName(QStringLiteral("sizeKind_tile"));
        kindChoice->addButton(imageSize, 0);
        kindChoice->addButton(tileSize, 1);
        (mode == 8 ? tileSize : imageSize)->setChecked(true);

        aspect_ = new QButtonGroup(this);
        int option = 0;
        for (int text : {dlgids::UseBoth, dlgids::UseWidth, dlgids::UseHeight}) {
            auto* b = new QRadioButton(QText(text));
            b->setObjectName(QStringLiteral("aspect_%1").arg(option));
            aspect_->addButton(b, option++);
        }
        aspect_->button(mode == 6 ? 1 : mode == 7 ? 2 : 0)->setChecked(true);
        QCheckBox* percent = addCheck(S::P4, dlgids::Percentage);
        if (fixed) percent->setChecked(false);
        width_ = addSpin(S::P2);
        height_ = addSpin(S::P3);
        width_->setValue(width);
        height_->setValue(height);

        tileWidth_ = new QSpinBox;
        tileWidth_->setObjectName(QStringLiteral("tile_P2"));
        tileHeight_ = new QSpinBox;
        tileHeight_->setObjectName(QStringLiteral("tile_P3"));
        tileWidth_->setRange(width_->minimum(), width_->maximum());
        tileHeight_->setRange(height_->minimum(), height_->maximum());
        tileWidth_->setValue(width);
        tileHeight_->setValue(height);
        ColorButton* tileColor =
            addColor(S::C0, dlgids::TileColor, dlgids::SelectBackgroundColor);
        QButtonGroup* method =
            addChoice(S::P1, {dlgids::ResizeOrResample, dlgids::ResampleOnly, dlgids::ResizeOnly});

        // Image size | Tile size side by side, the method below.
        auto* imageGrid = Grid();
        imageGrid->addLayout(Column(aspect_), 0, 0, 1, 2);
        imageGrid->addWidget(percent, 1, 0, 1, 2);
        AddRow(imageGrid, dlgids::Width, width_);
        AddRow(imageGrid, dlgids::Height, height_);
        imagePart_ = new QWidget;
        imagePart_->setLayout(imageGrid);
        auto* imageColumn = new QVBoxLayout;
        imageColumn->addWidget(imageSize);
        imageColumn->addWidget(imagePart_);
        imageColumn->addStretch(1);

        auto* tileGrid = Grid();
        AddRow(tileGrid, dlgids::TileWidth, tileWidth_);
        AddRow(tileGrid, dlgids::TileHeight, tileHeight_);
        tileGrid->addWidget(tileColor, tileGrid->rowCount(), 1);
        auto* hint = new QLabel(QText(dlgids::TileHint));
        hint->setWordWrap(true);
        hint->setForegroundRole(QPalette::PlaceholderText);
        tileGrid->addWidget(hint, tileGrid->rowCount(), 0, 1, 2);
        tilePart_ = new QWidget;
        tilePart_->setLayout(tileGrid);
        auto* tileColumn = new QVBoxLayout;
        tileColumn->addWidget(tileSize);
        tileColumn->addWidget(tilePart_);
        tileColumn->addStretch(1);

        auto* sizes = new QHBoxLayout;
        sizes->addWidget(Framed(0, imageColumn), 1);
        sizes->addWidget(Framed(0, tileColumn), 1);
        body()->addLayout(sizes);
        body()->addWidget(Framed(dlgids::MethodGroup, Column(method)));

        tile_ = tileSize;
        bind(S::P0, [this] { return tile_->isChecked() ? 8 : 5 + aspect_->checkedId(); });
        bind(S::P2, [this] { return (tile_->isChecked() ? tileWidth_ : width_)->value(); });
        bind(S::P3, [this] { return (tile_->isChecked() ? tileHeight_ : height_)->value(); });
        connect(kindChoice, &QButtonGroup::idToggled, this, [this] { updateEnabling(); });
        connect(aspect_, &QButtonGroup::idToggled, this, [this] { updateEnabling(); });
        updateEnabling();
    }

  private:
    void updateEnabling() {
        const bool tile = tile_->isChecked();
        imagePart_->setEnabled(!tile);
        tilePart_->setEnabled(tile);
        width_->setEnabled(aspect_->checkedId() != 2);
        height_->setEnabled(aspect_->checkedId() != 1);
    }
    QRadioButton* tile_;
    QButtonGroup* aspect_;
    QSpinBox *width_, *height_, *tileWidth_, *tileHeight_;
    QWidget *imagePart_, *tilePart_;
};

// ---- 508 Rotate Image ----

class RotateDialog : public PlainDialog {
  public:
    RotateDialog(CScriptCommand& c, QWidget* parent) : PlainDialog(c, 0, parent) {
        QButtonGroup* direction = addChoice(S::P2, {dlgids::RotateRight, dlgids::RotateLeft});
        QButtonGroup* angle = addChoice(
            S::P1, {dlgids::Angle90, dlgids::Angle180, dlgids::Angle270, dlgids::AngleFree});
        QSpinBox* free = addSpin(S::P0);
        ColorButton* color = addColor(S::C0, dlgids::Color, dlgids::SelectBackgroundColor);

        auto* angles = new QGridLayout;
        for (int i = 0; i < 3; ++i)
            angles->addWidget(angle->button(i), i, 0, 1, 3);
        angles->addWidget(angle->button(3), 3, 0);
        angles->addWidget(free, 3, 1);
        auto* range = new QLabel(QText(dlgids::FreeRange));
        angles->addWidget(range, 3, 2);
        angles->setColumnStretch(2, 1);
        auto* row = new QHBoxLayout;
        row->addWidget(Framed(dlgids::DirectionGroup, Column(direction)));
        row->addWidget(Framed(dlgids::AngleGroup, angles), 1);
        body()->addLayout(row);
        auto* colorRow = new QHBoxLayout;
        colorRow->addWidget(color);
        colorRow->addStretch(1);
        body()->addLayout(colorRow);

        auto update = [angle, free, range] {
            free->setEnabled(angle->checkedId() == 3);
            range->setEnabled(free->isEnabled());
        };
        connect(angle, &QButtonGroup::idToggled, this, update);
        update();
    }
};

// ---- 509 Add Borders ----

class BordersDialog : public PlainDialog {
  public:
    BordersDialog(CScriptCommand& c, QWidget* parent) : PlainDialog(c, 0, parent) {
        QCheckBox* symmetric = addCheck(S::P4, dlgids::Symmetric);
        top_ = addSpin(S::P2);
        bottom_ = addSpin(S::P3);
        left_ = addSpin(S::P0);
        right_ = addSpin(S::P1);
        ColorButton* color = addColor(S::C0, dlgids::Color, dlgids::SelectBorderColor);
        auto* grid = Grid();
        AddRow(grid, dlgids::Top, top_);
        AddRow(grid, dlgids::Bottom, bottom_);
        AddRow(grid, dlgids::Left, left_);
        AddRow(grid, dlgids::Right, right_);
        grid->addWidget(symmetric, grid->rowCount(), 1);
        grid->addWidget(color, grid->rowCount(), 1);
        body()->addLayout(grid);
        MakeSymmetric(symmetric, {top_, bottom_, left_, right_});
    }

  protected:
    bool check() override {
        if (top_->value() || bottom_->value() || left_->value() || right_->value()) return true;
        tell(QText(dlgids::NeedNonZeroValue));
        top_->setFocus();
        return false;
    }

  private:
    QSpinBox *top_, *bottom_, *left_, *right_;
};

// ---- 510 Enlarge Canvas ----

class CanvasDialog : public PlainDialog {
  public:
    CanvasDialog(CScriptCommand& c, QWidget* parent) : PlainDialog(c, 0, parent) {
        auto* grid = Grid();
        AddRow(grid, dlgids::Width, addSpin(S::P1));
        AddRow(grid, dlgids::Height, addSpin(S::P2));
        grid->addWidget(addCheck(S::P0, dlgids::CenterImage), grid->rowCount(), 1);
        ColorButton* color = addColor(S::C0, dlgids::Color, dlgids::SelectBackgroundColor);
        grid->addWidget(color, grid->rowCount(), 1);
        body()->addLayout(grid);
    }
};

// ---- 518 Apply a New Palette ----

// Reads a palette file in either form: the text form first, the RIFF form
// when the file is not text.
KervErrorCode ReadAnyPalette(const std::string& path, std::array<RGBQUAD, 256>& entries,
                             uint16_t* count) {
    entries = {};
    KervErrorCode code = ReadPaletteFile(path, entries.data(), count);
    if (code == KERV_BAD_PALETTE_FILE) code = ReadRiffPaletteFile(path, entries.data(), count);
    return code;
}

QPixmap PaletteSwatch(const std::array<RGBQUAD, 256>& entries, int count) {
    constexpr int kCell = 12, kPerRow = 16;
    const int rows = (count + kPerRow - 1) / kPerRow;
    QPixmap picture(kPerRow * kCell + 1, rows * kCell + 1);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setPen(QColor(96, 96, 96));
    for (int i = 0; i < count; ++i) {
        const RGBQUAD& e = entries[static_cast<size_t>(i)];
        painter.setBrush(QColor(e.rgbRed, e.rgbGreen, e.rgbBlue));
        painter.drawRect((i % kPerRow) * kCell, (i / kPerRow) * kCell, kCell, kCell);
    }
    return picture;
}

class PaletteDialog : public PlainDialog {
  public:
    PaletteDialog(CScriptCommand& c, QWidget* parent) : PlainDialog(c, 0, parent) {
        path_ = initialText(S::S0);
        file_ = new QLineEdit;
        file_->setReadOnly(true);
        file_->setObjectName(QStringLiteral("slot_S0"));
        file_->setMinimumWidth(320);
        auto* browse = new QPushButton(QText(dlgids::Browse));
        browse->setObjectName(QStringLiteral("browse"));
        info_ = new QLabel;
        info_->setObjectName(QStringLiteral("paletteInfo"));
        swatch_ = new QLabel;
        swatch_->setObjectName(QStringLiteral("paletteSwatch"));
        QButtonGroup* method = addChoice(
            S::P0,
            {dlgids::NearestColorMatching, dlgids::ErrorDiffusionDithering, dlgids::MaintainIndexes});

        auto* fileRow = new QHBoxLayout;
        auto* label = labelFor(dlgids::PaletteFile, browse);
        fileRow->addWidget(label);
        fileRow->addWidget(file_, 1);
        fileRow->addWidget(browse);
        body()->addLayout(fileRow);
        auto* below = new QHBoxLayout;
        auto* shown = new QVBoxLayout;
        shown->addWidget(info_);
        shown->addWidget(swatch_);
        shown->addStretch(1);
        below->addLayout(shown, 1);
        below->addWidget(Framed(dlgids::MethodGroup, Column(method)));
        body()->addLayout(below);

        bindText(S::S0, [this] { return path_; });
        connect(browse, &QPushButton::clicked, this, [this] { choose(); });
        show(path_);
    }

  protected:
    bool check() override {
        if (!path_.empty()) return true;
        tell(QText(dlgids::ChoosePaletteFile));
        return false;
    }

  private:
    void choose() {
        const QString start = FromPath(path_.empty() ? HomeFolder() : path_);
        const QString chosen =
            DialogHooks().openFile(this, QText(dlgids::OpenPaletteTitle), start,
                                   DialogFilter(LoadString(dlgids::PaletteFilter)));
        if (chosen.isEmpty()) return;
        std::array<RGBQUAD, 256> entries;
        uint16_t count = 0;
        if (const KervErrorCode code = ReadAnyPalette(ToPath(chosen), entries, &count);
            code != KERV_OK) {
            tell(QFormat(dlgids::PaletteNotRead, ToPath(chosen), ErrorCodeToText(code)));
            return;
        }
        path_ = ToPath(chosen);
        show(path_);
    }
    void show(const std::string& path) {
        file_->setText(path.empty() ? QText(dlgids::NoFile) : FromPath(path));
        std::array<RGBQUAD, 256> entries;
        uint16_t count = 0;
        if (path.empty() || ReadAnyPalette(path, entries, &count) != KERV_OK) {
            info_->clear();
            swatch_->clear();
            return;
        }
        info_->setText(QFormat(dlgids::PaletteColors, count));
        swatch_->setPixmap(PaletteSwatch(entries, count));
    }
    std::string path_;
    QLineEdit* file_;
    QLabel* info_;
    QLabel* swatch_;
};

// ---- 519..522 colour reduction ----

// The controls the reduction rules act on; null where the kind has none.
struct ReductionControls {
    QButtonGroup* palette = nullptr;
    QButtonGroup* method = nullptr;
    QCheckBox* windowsColors = nullptr;
    QCheckBox* reduceBleeding = nullptr;
    QButtonGroup* diffusionKind = nullptr;
};

void ApplyReductionRules(int32_t kind, const ReductionControls& c) {
    const int palette = c.palette ? c.palette->checkedId() : 0;
    const int method = ReductionMethodFor(kind, palette, c.method->checkedId());
    if (QAbstractButton* b = c.method->button(method)) b->setChecked(true);
    const ReductionEnabling e = ReductionEnablingFor(kind, palette, method);
    if (kind != CMD_OPTIMIZED_PALETTE) c.method->button(1)->setEnabled(e.orderedDither);
    if (c.windowsColors) c.windowsColors->setEnabled(e.windowsColors);
    if (c.reduceBleeding) c.reduceBleeding->setEnabled(e.reduceBleeding);
    if (c.diffusionKind)
        for (QAbstractButton* b : c.diffusionKind->buttons())
            b->setEnabled(e.diffusionKind);
}

void WatchReductionRules(QObject* owner, int32_t kind, const ReductionControls& c) {
    for (QButtonGroup* g : {c.palette, c.method})
        if (g)
            QObject::connect(g, &QButtonGroup::idToggled, owner, [kind, c](int, bool on) {
                if (on) ApplyReductionRules(kind, c);
            });
    ApplyReductionRules(kind, c);
}

class OptimizedPaletteDialog : public PlainDialog {
  public:
    OptimizedPaletteDialog(CScriptCommand& c, QWidget* parent) : PlainDialog(c, 0, parent) {
        total_ = addSpin(S::P0);
        // The field shows the palette's size: with the Windows colours, 20
        // more than the colours taken from the images.
        total_->setValue(initial(S::P0) + (initial(S::P1) ? 20 : 0));
        ReductionControls controls;
        controls.palette = addChoice(S::P4, {dlgids::MedianCut, dlgids::Octree});
        controls.windowsColors = windows_ = addCheck(S::P1, dlgids::IncludeWindowsColors);
        controls.method = addChoice(S::P2, {dlgids::MapToNearest, dlgids::DiffusionDither});
        controls.reduceBleeding = addCheck(S::P3, dlgids::ReduceBleeding);

        auto* totalRow = new QHBoxLayout;
        totalRow->addWidget(labelFor(dlgids::TotalColors, total_));
        totalRow->addWidget(total_);
        totalRow->addStretch(1);
        body()->addLayout(totalRow);
        auto* paletteColumn = Column(controls.palette);
        paletteColumn->addWidget(windows_);
        auto* methodColumn = Column(controls.method);
        methodColumn->addWidget(controls.reduceBleeding);
        auto* row = new QHBoxLayout;
        row->addWidget(Framed(dlgids::PaletteGroup, paletteColumn));
        row->addWidget(Framed(dlgids::MethodGroup, methodColumn));
        body()->addLayout(row);
        WatchReductionRules(this, kind(), controls);
    }

  protected:
    void finish(CScriptCommand& c) override {
        // With the 20 Windows colours at least one colour must still come
        // from the images: a total of 20 or fewer is taken without them.
        const int32_t total = total_->value();
        const bool windows = windows_->isChecked() && total > 20;
        IntSlot(c, S::P1) = windows ? 1 : 0;
        IntSlot(c, S::P0) = windows ? total - 20 : total;
    }

  private:
    QSpinBox* total_;
    QCheckBox* windows_;
};

class TwoColorsDialog : public PlainDialog {
  public:
    TwoColorsDialog(CScriptCommand& c, QWidget* parent)
        : PlainDialog(c, dlgids::TwoColorsTitle, parent) {
        QButtonGroup* component =
            addChoice(S::P0, {dlgids::GreyValues, dlgids::RedComponents, dlgids::GreenComponents,
                              dlgids::BlueComponents});
        QButtonGroup* weighting = addChoice(S::P1, {dlgids::Weighted, dlgids::NonWeighted});
        ReductionControls controls;
        controls.method = addChoice(
            S::P2, {dlgids::NearestColor, dlgids::OrderedDither, dlgids::ErrorDiffusion});
        controls.diffusionKind =
            addChoice(S::P3, {dlgids::FloydSteinberg, dlgids::Burkes, dlgids::Stucki});

        auto* left = new QVBoxLayout;
        left->addWidget(Framed(dlgids::ConvertGroup, Column(component)));
        left->addWidget(Framed(dlgids::PaletteGroup, Column(weighting)));
        auto* methods = Column(controls.method);
        auto* kinds = Column(controls.diffusionKind);
        kinds->setContentsMargins(24, 0, 0, 0);
        methods->addLayout(kinds);
        methods->addStretch(1);
        auto* row = new QHBoxLayout;
        row->addLayout(left);
        row->addWidget(Framed(dlgids::MethodGroup, methods));
        body()->addLayout(row);
        WatchReductionRules(this, kind(), controls);
    }
};

class ReduceColorsDialog : public PlainDialog {
  public:
    ReduceColorsDialog(CScriptCommand& c, QWidget* parent)
        : PlainDialog(c,
                      c.m_nID == CMD_TO_16_COLORS ? dlgids::SixteenColorsTitle
                                                  : dlgids::ColorsTitle256,
                      parent) {
        const bool sixteen = kind() == CMD_TO_16_COLORS;
        ReductionControls controls;
        controls.palette = addChoice(
            S::P0, {dlgids::OptimizedMedianCut, dlgids::OptimizedOctree,
                    sixteen ? dlgids::WindowsPalette : dlgids::StandardPalette});
        controls.method = addChoice(
            S::P1, {dlgids::NearestColor, dlgids::OrderedDither, dlgids::ErrorDiffusion});
        if (!sixteen) controls.windowsColors = addCheck(S::P2, dlgids::IncludeWindowsColors);
        controls.reduceBleeding = addCheck(sixteen ? S::P2 : S::P3, dlgids::ReduceBleeding);

        auto* paletteColumn = Column(controls.palette);
        if (controls.windowsColors) paletteColumn->addWidget(controls.windowsColors);
        paletteColumn->addStretch(1);
        auto* methodColumn = Column(controls.method);
        methodColumn->addWidget(controls.reduceBleeding);
        methodColumn->addStretch(1);
        auto* row = new QHBoxLayout;
        row->addWidget(Framed(dlgids::PaletteGroup, paletteColumn));
        row->addWidget(Framed(dlgids::MethodGroup, methodColumn));
        body()->addLayout(row);
        WatchReductionRules(this, kind(), controls);
    }
};

// ---- 557 Crop ----

class CropDialog : public PlainDialog {
  public:
    CropDialog(CScriptCommand& c, QWidget* parent) : PlainDialog(c, 0, parent) {
        QButtonGroup* mode = addChoice(S::P0, {dlgids::CropEdge, dlgids::CropCenter});
        QSpinBox* top = addSpin(S::P3);
        QSpinBox* bottom = addSpin(S::P4);
        QSpinBox* left = addSpin(S::P5);
        QSpinBox* right = addSpin(S::P6);
        QCheckBox* edgeSymmetric = addCheck(S::P7, dlgids::EdgeSymmetric);
        QSpinBox* height = addSpin(S::P2);
        QSpinBox* width = addSpin(S::P1);
        QCheckBox* centerSymmetric = addCheck(S::P8, dlgids::CenterSymmetric);

        auto* edgeGrid = Grid();
        AddRow(edgeGrid, dlgids::Top, top);
        AddRow(edgeGrid, dlgids::Bottom, bottom);
        AddRow(edgeGrid, dlgids::Left, left);
        AddRow(edgeGrid, dlgids::Right, right);
        edgeGrid->addWidget(edgeSymmetric, edgeGrid->rowCount(), 1);
        auto* edgePart = new QWidget;
        edgePart->setLayout(edgeGrid);
        auto* centerGrid = Grid();
        AddRow(centerGrid, dlgids::TileHeight, height);
        AddRow(centerGrid, dlgids::Width, width);
        centerGrid->addWidget(centerSymmetric, centerGrid->rowCount(), 1);
        auto* centerPart = new QWidget;
        centerPart->setLayout(centerGrid);

        auto* edgeColumn = new QVBoxLayout;
        edgeColumn->addWidget(mode->button(0));
        edgeColumn->addWidget(edgePart);
        edgeColumn->addStretch(1);
        auto* centerColumn = new QVBoxLayout;
        centerColumn->addWidget(mode->button(1));
        centerColumn->addWidget(centerPart);
        centerColumn->addStretch(1);
        auto* row = new QHBoxLayout;
        row->addWidget(Framed(0, edgeColumn));
        row->addWidget(Framed(0, centerColumn));
        body()->addLayout(row);

        MakeSymmetric(edgeSymmetric, {top, bottom, left, right});
        MakeSymmetric(centerSymmetric, {height, width});
        auto update = [mode, edgePart, centerPart] {
            edgePart->setEnabled(mode->checkedId() == 0);
            centerPart->setEnabled(mode->checkedId() == 1);
        };
        connect(mode, &QButtonGroup::idToggled, this, update);
        update();
    }
};

// ---- 558 Color Replacement ----

class ReplaceColorDialog : public PlainDialog {
  public:
    ReplaceColorDialog(CScriptCommand& c, QWidget* parent) : PlainDialog(c, 0, parent) {
        auto* original = colorGroup(S::C0, {dlgids::OriginalRed, dlgids::OriginalGreen,
                                            dlgids::OriginalBlue},
                                    dlgids::Color, dlgids::OriginalColor, addSpin(S::P0));
        auto* replacement = colorGroup(S::C1, {dlgids::ReplacementRed, dlgids::ReplacementGreen,
                                               dlgids::ReplacementBlue},
                                       dlgids::ReplacementColorButton, dlgids::ReplacementColor,
                                       nullptr);
        auto* row = new QHBoxLayout;
        row->addWidget(Framed(dlgids::OriginalColor, original));
        row->addWidget(Framed(dlgids::ReplacementColor, replacement));
        body()->addLayout(row);
    }

  private:
    // Red, green and blue fields and a colour button kept in step; the
    // tolerance field goes under the original colour's fields.
    QGridLayout* colorGroup(Slot s, std::array<int, 3> labels, int buttonText, int title,
                            QSpinBox* tolerance) {
        ColorButton* button = addColor(s, buttonText, title);
        std::array<QSpinBox*, 3> parts{};
        const COLORREF start = initialColor(s);
        const std::array<int, 3> values{GetRValue(start), GetGValue(start), GetBValue(start)};
        static const char* const kNames[] = {"red", "green", "blue"};
        auto* grid = Grid();
        for (size_t i = 0; i < 3; ++i) {
            parts[i] = new QSpinBox;
            parts[i]->setRange(0, 255);
            parts[i]->setValue(values[i]);
            parts[i]->setObjectName(
                QStringLiteral("slot_%1_%2").arg(s == S::C0 ? "C0" : "C1", kNames[i]));
            AddRow(grid, labels[i], parts[i]);
        }
        if (tolerance) AddRow(grid, dlgids::Tolerance, tolerance);
        grid->addWidget(button, grid->rowCount(), 1);
        auto compose = [parts] {
            return RGB(static_cast<uint8_t>(parts[0]->value()),
                       static_cast<uint8_t>(parts[1]->value()),
                       static_cast<uint8_t>(parts[2]->value()));
        };
        for (QSpinBox* part : parts)
            connect(part, &QSpinBox::valueChanged, button, [button, compose] {
                SetButtonColor(button, compose());
            });
        connect(button, &ColorButton::colorChosen, this, [parts](COLORREF chosen) {
            const std::array<int, 3> v{GetRValue(chosen), GetGValue(chosen), GetBValue(chosen)};
            for (size_t i = 0; i < 3; ++i) {
                const QSignalBlocker block(parts[i]);
                parts[i]->setValue(v[i]);
            }
        });
        bindColor(s, compose);
        return grid;
    }
};

// ---- 559 Overlay Watermark ----

class WatermarkDialog : public PlainDialog {
  public:
    WatermarkDialog(CScriptCommand& c, QWidget* parent) : PlainDialog(c, 0, parent) {
        path_ = initialText(S::S0);
        auto* center = Grid();
        AddRow(center, dlgids::XOrigin, sliderFor(S::P1));
        AddRow(center, dlgids::YOrigin, sliderFor(S::P0));
        auto* blend = Grid();
        AddRow(blend, dlgids::Opacity, sliderFor(S::P2));
        QWidget* tolerance = sliderFor(S::P4);
        AddRow(blend, dlgids::WatermarkTolerance, tolerance);
        QCheckBox* use = addCheck(S::P5, dlgids::UseTransparency);
        ColorButton* color =
            addColor(S::C0, dlgids::TransparentColor, dlgids::SelectTransparentColor);
        auto* transparency = new QHBoxLayout;
        transparency->addWidget(use);
        transparency->addStretch(1);
        transparency->addWidget(color);
        blend->addLayout(transparency, blend->rowCount(), 0, 1, 2);

        auto* load = new QPushButton(QText(dlgids::LoadWatermark));
        load->setObjectName(QStringLiteral("loadWatermark"));
        thumbnail_ = new QLabel;
        thumbnail_->setObjectName(QStringLiteral("watermarkPicture"));
        thumbnail_->setFixedSize(120, 90);
        thumbnail_->setAlignment(Qt::AlignCenter);
        thumbnail_->setFrameShape(QFrame::StyledPanel);
        info_ = new QLabel;
        info_->setObjectName(QStringLiteral("watermarkInfo"));
        info_->setWordWrap(true);
        info_->setMinimumWidth(200);
        auto* markRow = new QHBoxLayout;
        markRow->addWidget(thumbnail_);
        auto* markText = new QVBoxLayout;
        markText->addWidget(info_);
        markText->addStretch(1);
        markText->addWidget(load, 0, Qt::AlignLeft);
        markRow->addLayout(markText, 1);

        body()->addLayout(markRow);
        body()->addWidget(Framed(dlgids::WatermarkCenter, center));
        body()->addLayout(blend);

        bindText(S::S0, [this] { return path_; });
        connect(load, &QPushButton::clicked, this, [this] { choose(); });
        auto update = [use, tolerance, color] {
            tolerance->setEnabled(use->isChecked());
            color->setEnabled(use->isChecked());
        };
        connect(use, &QCheckBox::toggled, this, update);
        update();
        KHANDLE dib = nullptr;
        int format = 0;
        if (!path_.empty() && ReadImageFile(path_, &format, &dib, nullptr, nullptr) != KERV_OK)
            dib = nullptr;
        show(KOwnedHandle(dib));
    }

  private:
    // A slider with a field beside it showing the same value.
    QWidget* sliderFor(Slot s) {
        QSpinBox* field = addSpin(s);
        auto* slider = new QSlider(Qt::Horizontal);
        slider->setObjectName(QStringLiteral("slot_%1_slider").arg(field->objectName().mid(5)));
        slider->setRange(field->minimum(), field->maximum());
        slider->setValue(field->value());
        slider->setMinimumWidth(200);
        connect(slider, &QSlider::valueChanged, field, &QSpinBox::setValue);
        connect(field, &QSpinBox::valueChanged, slider, &QSlider::setValue);
        auto* both = new QWidget;
        both->setFocusProxy(slider); // the label's mnemonic lands on the slider
        auto* row = new QHBoxLayout(both);
        row->setContentsMargins(0, 0, 0, 0);
        row->addWidget(slider, 1);
        row->addWidget(field);
        return both;
    }
    void choose() {
        const QString start = FromPath(path_.empty() ? HomeFolder() : path_);
        const QString chosen = DialogHooks().openFile(this, QText(dlgids::OpenWatermarkTitle),
                                                      start, DialogFilter(OpenDialogFilter()));
        if (chosen.isEmpty()) return;
        KHANDLE dib = nullptr;
        int format = 0;
        const KervErrorCode code = ReadImageFile(ToPath(chosen), &format, &dib, nullptr, nullptr);
        KOwnedHandle owned(dib);
        if (code != KERV_OK || !owned) {
            tell(QFormat(dlgids::WatermarkNotRead, ToPath(chosen),
                         ErrorCodeToText(code != KERV_OK ? code : KERV_CORRUPT_FILE)));
            return;
        }
        path_ = ToPath(chosen);
        show(std::move(owned));
    }
    void show(KOwnedHandle dib) {
        const QImage picture = dib ? DIBToQImage(dib.get()) : QImage();
        if (path_.empty()) {
            info_->setText(QText(dlgids::NoWatermark));
        } else {
            const QString name = QFileInfo(FromPath(path_)).fileName();
            info_->setText(picture.isNull()
                               ? name
                               : QFormat(dlgids::WatermarkInfo, ToPath(name), picture.width(),
                                         picture.height()));
            info_->setToolTip(FromPath(path_));
        }
        thumbnail_->setPixmap(picture.isNull()
                                  ? QPixmap()
                                  : QPixmap::fromImage(picture.scaled(
                                        thumbnail_->size() - QSize(6, 6), Qt::KeepAspectRatio,
                                        Qt::SmoothTransformation)));
    }
    std::string path_;
    QLabel* thumbnail_;
    QLabel* info_;
};

} // namespace

// ---- 544 Set Output Options ----

OutputOptionsCommandDialog::OutputOptionsCommandDialog(CScriptCommand& command, QWidget* parent)
    : CBatchOutputDlg(OutputSettingsFromCommand(command, HomeFolder()), AppSettings(), parent),
      command_(command), start_(OutputSettingsFromCommand(command, HomeFolder())) {
    setObjectName(QStringLiteral("plainDialog_%1").arg(command.m_nID));
    setWindowTitle(QString::fromStdString(CommandDisplayName(command.m_nID)));
}

void OutputOptionsCommandDialog::done(int result) {
    if (result == QDialog::Accepted) {
        const OutputSettings chosen = settings();
        // A folder the user left as it was keeps the text it was given in
        // (a relative one stays relative to the script).
        const std::string folderText = command_.m_strParam[0];
        OutputSettingsToCommand(chosen, command_);
        if (!folderText.empty() && chosen.folder == start_.folder)
            command_.m_strParam[0] = folderText;
    }
    CBatchOutputDlg::done(result);
}

// ---- 545, 546 the background colour ----

BackgroundColorDialog::BackgroundColorDialog(CScriptCommand& command, QWidget* parent)
    : QColorDialog(parent), command_(command) {
    setObjectName(QStringLiteral("plainDialog_%1").arg(command.m_nID));
    setWindowTitle(QText(dlgids::SelectBackgroundColor));
    ApplyCustomColors();
    const COLORREF c = command.m_crColor[0];
    setCurrentColor(QColor(GetRValue(c), GetGValue(c), GetBValue(c)));
}

void BackgroundColorDialog::done(int result) {
    QColorDialog::done(result);
    if (result != QDialog::Accepted) return;
    KeepCustomColors();
    const QColor chosen = selectedColor();
    command_.m_crColor[0] = RGB(static_cast<uint8_t>(chosen.red()),
                                static_cast<uint8_t>(chosen.green()),
                                static_cast<uint8_t>(chosen.blue()));
}

std::unique_ptr<QDialog> MakePlainDialog(CScriptCommand& command, QWidget* parent) {
    switch (command.m_nID) {
    case CMD_RESIZE: return std::make_unique<ResizeDialog>(command, parent);
    case CMD_ROTATE: return std::make_unique<RotateDialog>(command, parent);
    case CMD_ADD_BORDERS: return std::make_unique<BordersDialog>(command, parent);
    case CMD_ENLARGE_CANVAS: return std::make_unique<CanvasDialog>(command, parent);
    case CMD_APPLY_PALETTE: return std::make_unique<PaletteDialog>(command, parent);
    case CMD_OPTIMIZED_PALETTE: return std::make_unique<OptimizedPaletteDialog>(command, parent);
    case CMD_TO_2_COLORS: return std::make_unique<TwoColorsDialog>(command, parent);
    case CMD_TO_16_COLORS:
    case CMD_TO_256_COLORS: return std::make_unique<ReduceColorsDialog>(command, parent);
    case CMD_SET_OUTPUT_OPTIONS:
        return std::make_unique<OutputOptionsCommandDialog>(command, parent);
    case CMD_CIRCLE:
    case CMD_PENTAGON: return std::make_unique<BackgroundColorDialog>(command, parent);
    case CMD_CROP: return std::make_unique<CropDialog>(command, parent);
    case CMD_COLOR_REPLACEMENT: return std::make_unique<ReplaceColorDialog>(command, parent);
    case CMD_OVERLAY_WATERMARK: return std::make_unique<WatermarkDialog>(command, parent);
    default: return nullptr;
    }
}
