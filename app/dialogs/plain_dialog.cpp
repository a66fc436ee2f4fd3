#include "app/dialogs/plain_dialog.h"

#include "app/app_info.h"
#include "app/dialogs/color_button.h"
#include "app/qt_text.h"
#include "app/slot_editor.h"
#include "core/settings.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

PlainDialogHooks& DialogHooks() {
    static PlainDialogHooks hooks{
        [](QWidget* parent, const QString& text) {
            QMessageBox::warning(parent, ApplicationName(), text);
        },
        [](QWidget* parent, const QString& title, const QString& start, const QString& filter) {
            return QFileDialog::getOpenFileName(parent, title, start, filter);
        }};
    return hooks;
}

int32_t& IntSlot(CScriptCommand& c, Slot s) {
    return c.m_nParam[static_cast<size_t>(s) - static_cast<size_t>(Slot::P0)];
}
COLORREF& ColorSlot(CScriptCommand& c, Slot s) {
    return c.m_crColor[s == Slot::C0 ? 0 : 1];
}
std::string& TextSlot(CScriptCommand& c, Slot s) {
    return c.m_strParam[s == Slot::S0 ? 0 : 1];
}

namespace {
bool IsInt(Slot s) {
    return s <= Slot::P9;
}
bool IsColor(Slot s) {
    return s == Slot::C0 || s == Slot::C1;
}
bool IsText(Slot s) {
    return s == Slot::S0 || s == Slot::S1;
}
} // namespace

PlainDialog::PlainDialog(CScriptCommand& command, int caption, QWidget* parent)
    : QDialog(parent), command_(command) {
    setObjectName(QStringLiteral("plainDialog_%1").arg(command.m_nID));
    setWindowTitle(caption ? QText(caption)
                           : QString::fromStdString(CommandDisplayName(command.m_nID)));
    body_ = new QVBoxLayout;
    buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons_->setObjectName(QStringLiteral("buttons"));
    connect(buttons_, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(body_);
    layout->addStretch(1);
    layout->addWidget(buttons_);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

int32_t PlainDialog::initial(Slot s) const {
    const SlotInfo* info = FindSlotInfo(kind(), s);
    int32_t v = IntSlot(command_, s);
    if (v == PARAM_UNSET && info && info->defaultKind == SlotDefault::Number)
        v = IntSlotDefault(kind(), s);
    if (info && info->ranged)
        v = std::clamp(v, static_cast<int32_t>(std::lround(info->min)),
                       static_cast<int32_t>(std::lround(info->max)));
    return v;
}

COLORREF PlainDialog::initialColor(Slot s) const {
    return ColorSlot(command_, s) & 0xFFFFFF;
}

std::string PlainDialog::initialText(Slot s) const {
    const SlotInfo* info = FindSlotInfo(kind(), s);
    const std::string& v = TextSlot(command_, s);
    if (!v.empty() || !info) return v;
    if (info->defaultKind == SlotDefault::Text && info->defaultText) return info->defaultText;
    if (info->defaultKind == SlotDefault::HomeFolder) return HomeFolder();
    return v;
}

void PlainDialog::name(QObject* object, Slot s, const QString& suffix) const {
    object->setObjectName(QStringLiteral("slot_%1%2").arg(QLatin1String(SlotName(s)), suffix));
}

QSpinBox* PlainDialog::addSpin(Slot s) {
    auto* spin = new QSpinBox;
    if (const SlotInfo* info = FindSlotInfo(kind(), s); info && info->ranged)
        spin->setRange(static_cast<int>(info->min), static_cast<int>(info->max));
    spin->setValue(initial(s));
    spin->setMinimumWidth(80);
    name(spin, s);
    bind(s, [spin] { return spin->value(); });
    return spin;
}

QButtonGroup* PlainDialog::addChoice(Slot s, std::initializer_list<int> labels) {
    auto* choice = new QButtonGroup(this);
    name(choice, s);
    int value = 0;
    for (int label : labels) {
        auto* button = new QRadioButton(QText(label));
        name(button, s, QStringLiteral("_%1").arg(value));
        choice->addButton(button, value++);
    }
    if (QAbstractButton* b = choice->button(initial(s))) b->setChecked(true);
    choices_[s] = choice;
    bind(s, [choice] { return std::max(choice->checkedId(), 0); });
    return choice;
}

QAbstractButton* PlainDialog::choiceButton(Slot s, int value) const {
    const auto it = choices_.find(s);
    return it == choices_.end() ? nullptr : it->second->button(value);
}

QCheckBox* PlainDialog::addCheck(Slot s, int label) {
    auto* check = new QCheckBox(QText(label));
    check->setChecked(initial(s) != 0);
    name(check, s);
    bind(s, [check] { return check->isChecked() ? 1 : 0; });
    return check;
}

namespace {
// ColorButton writes the colour's values as its text; the dialogs' buttons
// carry their own label instead and show the values as the tip.
void Relabel(ColorButton* button) {
    button->setToolTip(button->text());
    button->setText(button->property("label").toString());
}
} // namespace

void SetButtonColor(ColorButton* button, COLORREF color) {
    button->setColor(color);
    Relabel(button);
}

ColorButton* PlainDialog::addColor(Slot s, int label, int chooserTitle) {
    auto* button = new ColorButton(initialColor(s), QText(chooserTitle));
    button->setProperty("label", QText(label));
    Relabel(button);
    connect(button, &ColorButton::colorChosen, button, [button] { Relabel(button); });
    name(button, s);
    bindColor(s, [button] { return button->color(); });
    return button;
}

void PlainDialog::bind(Slot s, std::function<int32_t()> read) {
    bindings_[s].readInt = std::move(read);
}
void PlainDialog::bindColor(Slot s, std::function<COLORREF()> read) {
    bindings_[s].readColor = std::move(read);
}
void PlainDialog::bindText(Slot s, std::function<std::string()> read) {
    bindings_[s].readText = std::move(read);
}

QLabel* PlainDialog::labelFor(int text, QWidget* buddy) {
    auto* label = new QLabel(QText(text));
    label->setBuddy(buddy);
    return label;
}

QGroupBox* PlainDialog::group(int title) {
    return new QGroupBox(title ? QText(title) : QString());
}

void PlainDialog::tell(const QString& text) {
    if (DialogHooks().message) DialogHooks().message(this, text);
}

void PlainDialog::accept() {
    if (!check()) return;
    const CommandInfo* info = FindCommandInfo(kind());
    for (const SlotInfo& slot : info ? info->slotTable : std::span<const SlotInfo>{}) {
        const Slot s = slot.slot;
        const auto it = bindings_.find(s);
        const Binding* b = it == bindings_.end() ? nullptr : &it->second;
        if (IsInt(s))
            IntSlot(command_, s) = b && b->readInt ? b->readInt() : initial(s);
        else if (IsColor(s))
            ColorSlot(command_, s) = b && b->readColor ? b->readColor() : initialColor(s);
        else if (IsText(s))
            TextSlot(command_, s) = b && b->readText ? b->readText() : initialText(s);
    }
    finish(command_);
    QDialog::accept();
}
