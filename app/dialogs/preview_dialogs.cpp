#include "app/dialogs/preview_dialogs.h"

#include "app/dialogs/color_button.h"
#include "app/dialogs/command_dialog.h"
#include "app/dialogs/dlg_with_preview.h"
#include "app/dialogs/preview_texts.h"
#include "app/main_strings.h"
#include "app/qt_text.h"
#include "script/commands.h"
#include "script/script.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace {

namespace ids = previewids;

// ---- The table ----

enum class Control : uint8_t {
    None,
    Number,     // a spin box with the slot's range (a float slot: two decimals)
    Choice,     // two radio buttons: value 0 and value 1
    Colour,     // a colour button
    Angle,      // a spin box with a direction picture
    Symmetric,  // a check box tying the next two number fields together
};

struct FieldRow {
    Control control = Control::None;
    Slot slot = Slot::P0;
    int label = 0;   // string number
    int second = 0;  // Choice: the label of value 1; Colour: the chooser's title
    int unit = 0;    // a text after the field, or 0
};

enum class OkRule : uint8_t {
    None,
    DifferenceRange,  // -2..2 refused with message 5030
    NotBothZero,      // the two number fields both 0 refused with message 5019
};

struct DialogRow {
    int32_t id;
    int caption;     // string number; 0 for the command's display name
    int delayTicks;  // the preview's wait after a change, in 250 ms ticks
    // The fields accept any value of their digits, which is brought into the
    // slot's range when the dialog opens, before every preview and on OK.
    bool clamp;
    OkRule rule;
    std::array<FieldRow, 3> fields;
};

using C = Control;
using S = Slot;

constexpr FieldRow Num(Slot s, int label, int unit = 0) { return {C::Number, s, label, 0, unit}; }
constexpr FieldRow Choice(Slot s, int first, int second) { return {C::Choice, s, first, second, 0}; }
constexpr FieldRow Colour(Slot s) { return {C::Colour, s, ids::Color, ids::SelectBackgroundColor, 0}; }

// Quick table-driven adjustments wait one tick; the deformations and
// filters, which take longer on every change, wait two.
constexpr DialogRow kDialogs[] = {
    {CMD_BRIGHTNESS_CONTRAST, 0, 1, false, OkRule::None,
     {Num(S::P0, ids::Brightness), Num(S::P1, ids::Contrast)}},
    {CMD_RED_GREEN_BLUE, 0, 1, false, OkRule::None,
     {Num(S::P0, ids::Red), Num(S::P1, ids::Green), Num(S::P2, ids::Blue)}},
    {CMD_HUE_SATURATION_LUM, 0, 1, false, OkRule::None,
     {Num(S::P0, ids::HuePercent), Num(S::P1, ids::SaturationPercent),
      Num(S::P2, ids::Luminance)}},
    {CMD_HIGHLIGHT_MIDTONE_SHADOW, 0, 1, false, OkRule::None,
     {Num(S::P0, ids::Highlight), Num(S::P1, ids::Midtone), Num(S::P2, ids::Shadow)}},
    {CMD_GAMMA, 0, 1, false, OkRule::None, {Num(S::F0, ids::Correction)}},
    {CMD_POSTERIZE, 0, 1, true, OkRule::None, {Num(S::P0, ids::BitsPerChannel)}},
    {CMD_SOLARIZE, 0, 1, true, OkRule::None, {Num(S::P0, ids::Threshold)}},
    {CMD_COLORIZE, 0, 1, false, OkRule::None, {Num(S::P0, ids::Hue), Num(S::P1, ids::Saturation)}},
    {CMD_HORIZONTAL_PERSPECTIVE, 0, 2, false, OkRule::DifferenceRange,
     {Num(S::P0, ids::Difference), Colour(S::C0)}},
    {CMD_VERTICAL_PERSPECTIVE, 0, 2, false, OkRule::DifferenceRange,
     {Num(S::P0, ids::Difference), Colour(S::C0)}},
    {CMD_HORIZONTAL_CYLINDER, ids::WarpCaption, 2, false, OkRule::None, {Num(S::P0, ids::Effect)}},
    {CMD_VERTICAL_CYLINDER, ids::WarpCaption, 2, false, OkRule::None, {Num(S::P0, ids::Effect)}},
    {CMD_PINCH, ids::WarpCaption, 2, false, OkRule::None, {Num(S::P0, ids::Effect)}},
    {CMD_PUNCH, ids::WarpCaption, 2, false, OkRule::None, {Num(S::P0, ids::Effect)}},
    {CMD_UNSHARPEN, 0, 2, false, OkRule::None,
     {Num(S::P0, ids::Clipping), Num(S::P1, ids::Strength)}},
    {CMD_WIND, 0, 2, false, OkRule::None,
     {Choice(S::P0, ids::FromRight, ids::FromLeft), Num(S::P1, ids::Strength)}},
    {CMD_MOTION_BLUR, 0, 2, false, OkRule::None,
     {FieldRow{C::Angle, S::P0, ids::Direction, 0, ids::Degrees},
      Num(S::P1, ids::Intensity, ids::Pixels)}},
    {CMD_SKEW, 0, 2, false, OkRule::NotBothZero,
     {Num(S::P0, ids::Horizontal), Num(S::P1, ids::Vertical), Colour(S::C0)}},
    {CMD_ADD_NOISE, 0, 2, false, OkRule::None,
     {Choice(S::P0, ids::Random, ids::Uniform), Num(S::P1, ids::Noise)}},
    {CMD_MOSAIC, 0, 2, false, OkRule::None,
     {FieldRow{C::Symmetric, S::P2, ids::Symmetric, 0, 0}, Num(S::P0, ids::BlockWidth),
      Num(S::P1, ids::BlockHeight)}},
};

constexpr std::array<int32_t, std::size(kDialogs)> kCommandIds = [] {
    std::array<int32_t, std::size(kDialogs)> out{};
    for (size_t i = 0; i < std::size(kDialogs); ++i)
        out[i] = kDialogs[i].id;
    return out;
}();

const DialogRow* FindRow(int32_t id) {
    for (const DialogRow& row : kDialogs)
        if (row.id == id) return &row;
    return nullptr;
}

// ---- Slots of a command ----

bool IsIntSlot(Slot s) { return s <= Slot::P9; }
bool IsFloatSlot(Slot s) { return s == Slot::F0 || s == Slot::F1; }

int32_t& IntSlot(CScriptCommand& c, Slot s) {
    return c.m_nParam[static_cast<size_t>(static_cast<int>(s) - static_cast<int>(Slot::P0))];
}
float& FloatSlot(CScriptCommand& c, Slot s) { return c.m_fParam[s == Slot::F0 ? 0 : 1]; }
COLORREF& ColourSlot(CScriptCommand& c, Slot s) { return c.m_crColor[s == Slot::C0 ? 0 : 1]; }

const char* SlotName(Slot s) {
    static const char* const kNames[] = {"P0", "P1", "P2", "P3", "P4", "P5", "P6", "P7",
                                         "P8", "P9", "F0", "F1", "S0", "S1", "C0", "C1"};
    return kNames[static_cast<int>(s)];
}
QString ObjectName(Slot s) { return QStringLiteral("slot_%1").arg(SlotName(s)); }

// The widest range a clamped field takes: every value of as many digits as
// the range's top has, so a typed value outside the range can still be
// entered and is then clamped.
int DigitsCeiling(double max) {
    int ceiling = 9;
    while (ceiling < max) ceiling = ceiling * 10 + 9;
    return ceiling;
}

QLabel* Caption(int text, QWidget* buddy) {
    auto* label = new QLabel(QText(text));
    label->setBuddy(buddy);
    return label;
}

// ---- The dialog ----

class PreviewDialog : public DlgWithPreview {
  public:
    PreviewDialog(const DialogRow& row, CScriptCommand& command, KHANDLE preview,
                  QWidget* parent);
    void accept() override;

  protected:
    Operation operation() const override;
    void beforeRecompute() override { clampFields(); }

  private:
    struct Field {
        const FieldRow* row;
        const SlotInfo* info;
        QWidget* widget;
        QButtonGroup* choice = nullptr;
    };
    QWidget* makeField(const FieldRow& f, const SlotInfo& info, QFormLayout* form);
    // The command as the fields stand: a copy of the edited one with the
    // fields' slots replaced.
    CScriptCommand fieldsCommand() const;
    void clampFields();
    // Shows the refusal and answers false when the OK rule refuses.
    bool passesRule();
    void tieSymmetric();

    const DialogRow& row_;
    CScriptCommand& command_;
    std::vector<Field> fields_;
};

PreviewDialog::PreviewDialog(const DialogRow& row, CScriptCommand& command, KHANDLE preview,
                             QWidget* parent)
    : DlgWithPreview(preview, row.delayTicks, parent), row_(row), command_(command) {
    setObjectName(QStringLiteral("previewDialog%1").arg(row.id));
    setWindowTitle(row.caption ? QText(row.caption)
                               : QString::fromStdString(CommandDisplayName(row.id)));
    auto* form = new QFormLayout;
    form->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    form->setLabelAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    form->setHorizontalSpacing(12);
    for (const FieldRow& f : row.fields) {
        if (f.control == Control::None) continue;
        const SlotInfo* info = FindSlotInfo(row.id, f.slot);
        if (!info) continue;  // the slot table and this table disagree; the test says which
        fields_.push_back({&f, info, makeField(f, *info, form)});
        if (f.control == Control::Choice)
            fields_.back().choice = fields_.back().widget->findChild<QButtonGroup*>();
    }
    tieSymmetric();
    clampFields();

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->setObjectName(QStringLiteral("buttons"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(12);
    layout->addWidget(previewPanes(), 0, Qt::AlignHCenter);
    auto* fieldsRow = new QHBoxLayout;
    fieldsRow->addLayout(form);
    fieldsRow->addStretch(1);
    layout->addLayout(fieldsRow);
    layout->addStretch(1);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    startPreview();
}

QWidget* PreviewDialog::makeField(const FieldRow& f, const SlotInfo& info, QFormLayout* form) {
    const int32_t id = row_.id;
    const QString name = ObjectName(f.slot);
    auto changed = [this] { parameterChanged(); };
    switch (f.control) {
    case Control::Choice: {
        auto* box = new QWidget;
        box->setObjectName(name);
        auto* group = new QButtonGroup(box);
        auto* line = new QHBoxLayout(box);
        line->setContentsMargins(0, 0, 0, 0);
        for (int value : {0, 1}) {
            auto* radio = new QRadioButton(QText(value == 0 ? f.label : f.second));
            radio->setObjectName(QStringLiteral("%1_%2").arg(name).arg(value));
            group->addButton(radio, value);
            line->addWidget(radio);
        }
        line->addStretch(1);
        const int32_t value = ParamOr(IntSlot(command_, f.slot), IntSlotDefault(id, f.slot));
        group->button(value != 0 ? 1 : 0)->setChecked(true);
        connect(group, &QButtonGroup::idClicked, this, changed);
        form->addRow(box);
        return box;
    }
    case Control::Symmetric: {
        auto* check = new QCheckBox(QText(f.label));
        check->setObjectName(name);
        check->setChecked(ParamOr(IntSlot(command_, f.slot), IntSlotDefault(id, f.slot)) != 0);
        form->addRow(check);
        return check;
    }
    case Control::Colour: {
        auto* button = new ColorButton(ColourSlot(command_, f.slot), QText(f.second));
        button->setObjectName(name);
        connect(button, &ColorButton::colorChosen, this, changed);
        form->addRow(Caption(f.label, button), button);
        return button;
    }
    case Control::Number:
    case Control::Angle:
    case Control::None:
        break;
    }
    QWidget* field = nullptr;
    if (IsFloatSlot(f.slot)) {
        auto* spin = new QDoubleSpinBox;
        spin->setDecimals(2);
        spin->setSingleStep(0.1);
        spin->setRange(info.min, info.max);
        spin->setValue(FloatParamOr(FloatSlot(command_, f.slot), FloatSlotDefault(id, f.slot)));
        connect(spin, &QDoubleSpinBox::valueChanged, this, changed);
        field = spin;
    } else {
        auto* spin = new QSpinBox;
        if (row_.clamp)
            spin->setRange(std::min(0, static_cast<int>(info.min)), DigitsCeiling(info.max));
        else
            spin->setRange(static_cast<int>(info.min), static_cast<int>(info.max));
        spin->setValue(ParamOr(IntSlot(command_, f.slot), IntSlotDefault(id, f.slot)));
        connect(spin, &QSpinBox::valueChanged, this, changed);
        field = spin;
    }
    field->setObjectName(name);
    field->setMinimumWidth(90);
    QWidget* shown = field;
    if (f.control == Control::Angle || f.unit) {
        shown = new QWidget;
        auto* line = new QHBoxLayout(shown);
        line->setContentsMargins(0, 0, 0, 0);
        if (f.control == Control::Angle) {
            auto* picture = new DirectionPicture;
            picture->setObjectName(name + QStringLiteral("_picture"));
            auto* spin = static_cast<QSpinBox*>(field);
            picture->setAngle(spin->value());
            connect(spin, &QSpinBox::valueChanged, picture, &DirectionPicture::setAngle);
            connect(picture, &DirectionPicture::angleChosen, spin, &QSpinBox::setValue);
            line->addWidget(picture);
        }
        line->addWidget(field);
        if (f.unit) line->addWidget(new QLabel(QText(f.unit)));
        line->addStretch(1);
    }
    form->addRow(Caption(f.label, field), shown);
    return field;
}

void PreviewDialog::tieSymmetric() {
    for (size_t i = 0; i + 2 < fields_.size(); ++i) {
        if (fields_[i].row->control != Control::Symmetric) continue;
        auto* check = static_cast<QCheckBox*>(fields_[i].widget);
        auto* first = static_cast<QSpinBox*>(fields_[i + 1].widget);
        auto* second = static_cast<QSpinBox*>(fields_[i + 2].widget);
        // While the check is on, the second field follows the first.
        auto follow = [check, first, second] {
            second->setEnabled(!check->isChecked());
            if (check->isChecked()) second->setValue(first->value());
        };
        connect(check, &QCheckBox::toggled, this, follow);
        connect(check, &QCheckBox::toggled, this, [this] { parameterChanged(); });
        connect(first, &QSpinBox::valueChanged, this, follow);
        follow();
    }
}

CScriptCommand PreviewDialog::fieldsCommand() const {
    CScriptCommand c = command_;
    for (const Field& f : fields_) {
        const Slot s = f.row->slot;
        switch (f.row->control) {
        case Control::Choice: IntSlot(c, s) = f.choice->checkedId() == 1 ? 1 : 0; break;
        case Control::Symmetric:
            IntSlot(c, s) = static_cast<QCheckBox*>(f.widget)->isChecked() ? 1 : 0;
            break;
        case Control::Colour: ColourSlot(c, s) = static_cast<ColorButton*>(f.widget)->color(); break;
        case Control::Number:
        case Control::Angle:
            if (IsFloatSlot(s))
                FloatSlot(c, s) = static_cast<float>(static_cast<QDoubleSpinBox*>(f.widget)->value());
            else if (IsIntSlot(s))
                IntSlot(c, s) = static_cast<QSpinBox*>(f.widget)->value();
            break;
        case Control::None: break;
        }
    }
    return c;
}

void PreviewDialog::clampFields() {
    if (!row_.clamp) return;
    for (const Field& f : fields_) {
        auto* spin = qobject_cast<QSpinBox*>(f.widget);
        if (!spin || !f.info->ranged) continue;
        // The clamped value is what gets computed: no second computation.
        const QSignalBlocker quiet(spin);
        spin->setValue(std::clamp(spin->value(), static_cast<int>(f.info->min),
                                  static_cast<int>(f.info->max)));
    }
}

bool PreviewDialog::passesRule() {
    int message = 0;
    std::vector<int> numbers;
    for (const Field& f : fields_)
        if (f.row->control == Control::Number && IsIntSlot(f.row->slot))
            numbers.push_back(static_cast<QSpinBox*>(f.widget)->value());
    switch (row_.rule) {
    case OkRule::None: return true;
    case OkRule::DifferenceRange:
        if (!numbers.empty() && numbers[0] >= -2 && numbers[0] <= 2) message = ids::DifferenceRange;
        break;
    case OkRule::NotBothZero:
        if (std::all_of(numbers.begin(), numbers.end(), [](int v) { return v == 0; }))
            message = ids::NonZeroValue;
        break;
    }
    if (message == 0) return true;
    QMessageBox box(QMessageBox::Warning, QText(appids::ApplicationName), QText(message),
                    QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("refusal"));
    box.exec();
    return false;
}

void PreviewDialog::accept() {
    clampFields();
    if (!passesRule()) return;
    command_ = fieldsCommand();
    DlgWithPreview::accept();
}

DlgWithPreview::Operation PreviewDialog::operation() const {
    auto script = std::make_shared<CScript>();
    script->InsertCommand(std::make_unique<CScriptCommand>(fieldsCommand()), 0);
    std::string fileName = ToPath(QText(appids::PreviewFileName));
    return [script, fileName](StatusControlBlock* status, KHANDLE source, KHANDLE* result) {
        // The extra inputs are those of Exec Cmd for a command that needs
        // neither a palette nor a watermark.
        std::array<RGBQUAD, 256> palette{};
        return script->DoCommand(0, source, result, nullptr, fileName, status, palette.data(), 0);
    };
}

} // namespace

bool HasPreviewDialog(int32_t id) { return FindRow(id) != nullptr; }

std::span<const int32_t> PreviewDialogCommands() { return kCommandIds; }

std::unique_ptr<QDialog> MakePreviewDialog(CScriptCommand& command, KHANDLE preview,
                                           QWidget* parent) {
    const DialogRow* row = FindRow(command.m_nID);
    if (!row) return nullptr;
    return std::make_unique<PreviewDialog>(*row, command, preview, parent);
}

// ---- DirectionPicture ----

DirectionPicture::DirectionPicture(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setCursor(Qt::CrossCursor);
}

void DirectionPicture::setAngle(int degrees) {
    const int reduced = ((degrees % 360) + 360) % 360;
    if (reduced == angle_) return;
    angle_ = reduced;
    update();
}

void DirectionPicture::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(3, 3, -3, -3);
    const double side = std::min(box.width(), box.height());
    const QRectF dial(box.center().x() - side / 2, box.center().y() - side / 2, side, side);
    p.setPen(QPen(palette().color(QPalette::Mid), 1));
    p.setBrush(palette().color(QPalette::Base));
    p.drawEllipse(dial);
    const QPointF c = dial.center();
    const double r = side / 2 - 4;
    const double a = angle_ * M_PI / 180.0;
    // Clockwise from up; the screen's y grows downwards.
    const QPointF tip(c.x() + r * std::sin(a), c.y() - r * std::cos(a));
    const QPointF tail(c.x() - r * std::sin(a), c.y() + r * std::cos(a));
    p.setPen(QPen(palette().color(QPalette::Text), 2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(tail, tip);
    const double head = 7, spread = 0.45;
    const QPointF left(tip.x() - head * std::sin(a - spread), tip.y() + head * std::cos(a - spread));
    const QPointF right(tip.x() - head * std::sin(a + spread), tip.y() + head * std::cos(a + spread));
    p.setBrush(palette().color(QPalette::Text));
    p.drawPolygon(QPolygonF({tip, left, right}));
}

void DirectionPicture::mousePressEvent(QMouseEvent* event) { pick(event->position()); }

void DirectionPicture::mouseMoveEvent(QMouseEvent* event) {
    if (event->buttons() & Qt::LeftButton) pick(event->position());
}

void DirectionPicture::pick(QPointF at) {
    const QPointF d = at - QRectF(rect()).center();
    if (std::hypot(d.x(), d.y()) < 2) return;
    const int degrees = static_cast<int>(std::lround(std::atan2(d.x(), -d.y()) * 180.0 / M_PI));
    const int before = angle_;
    setAngle(degrees);
    if (angle_ != before) emit angleChosen(angle_);
}
