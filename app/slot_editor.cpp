#include "app/slot_editor.h"

#include "app/dialogs/color_button.h"
#include "app/main_strings.h"
#include "app/qt_text.h"
#include "script/commands.h"
#include "script/script.h"
#include "core/settings.h"

#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QVBoxLayout>

#include <limits>


namespace {

bool IsIntSlot(Slot s) {
    return s <= Slot::P9;
}
bool IsFloatSlot(Slot s) {
    return s == Slot::F0 || s == Slot::F1;
}
bool IsTextSlot(Slot s) {
    return s == Slot::S0 || s == Slot::S1;
}
int IntIndex(Slot s) {
    return static_cast<int>(s) - static_cast<int>(Slot::P0);
}
int FloatIndex(Slot s) {
    return s == Slot::F0 ? 0 : 1;
}
int TextIndex(Slot s) {
    return s == Slot::S0 ? 0 : 1;
}
int ColorIndex(Slot s) {
    return s == Slot::C0 ? 0 : 1;
}

// The row's label and the hint under the field: the dialog's label with the
// slot's meaning as the hint; without a label, the meaning up to its first
// ":" as the label and the rest as the hint.
struct RowText {
    QString label;
    QString hint;
};
RowText TextFor(const SlotInfo& info) {
    const QString meaning = QString::fromUtf8(info.meaning);
    if (info.label) return {QString::fromUtf8(info.label), meaning};
    const qsizetype colon = meaning.indexOf(':');
    QString label = colon < 0 ? meaning : meaning.left(colon);
    if (!label.isEmpty()) label[0] = label[0].toUpper();
    return {label + ':', colon < 0 ? QString() : meaning.mid(colon + 1).trimmed()};
}

} // namespace

const char* SlotName(Slot slot) {
    static const char* const kNames[] = {"P0", "P1", "P2", "P3", "P4", "P5", "P6", "P7",
                                         "P8", "P9", "F0", "F1", "S0", "S1", "C0", "C1"};
    return kNames[static_cast<int>(slot)];
}

SlotEditor::SlotEditor(CScriptCommand& command, QWidget* parent)
    : QDialog(parent), command_(command) {
    setObjectName(QStringLiteral("slotEditor"));
    setWindowTitle(QFormat(appids::SlotEditorTitle, CommandDisplayName(command.m_nID)));
    auto* grid = new QGridLayout;
    grid->setColumnStretch(1, 1);
    grid->setColumnMinimumWidth(1, 260);
    grid->setVerticalSpacing(4);
    const CommandInfo* info = FindCommandInfo(command.m_nID);
    const int32_t id = command.m_nID;
    for (const SlotInfo& slot : info ? info->slotTable : std::span<const SlotInfo>{}) {
        QWidget* field = nullptr;
        if (IsIntSlot(slot.slot)) {
            auto* spin = new QSpinBox;
            if (slot.ranged)
                spin->setRange(static_cast<int>(slot.min), static_cast<int>(slot.max));
            else
                spin->setRange(std::numeric_limits<int>::min(), std::numeric_limits<int>::max());
            const int32_t value = command.m_nParam[static_cast<size_t>(IntIndex(slot.slot))];
            const bool fill = value == PARAM_UNSET && slot.defaultKind == SlotDefault::Number;
            spin->setValue(fill ? IntSlotDefault(id, slot.slot) : value);
            field = spin;
        } else if (IsFloatSlot(slot.slot)) {
            auto* spin = new QDoubleSpinBox;
            spin->setDecimals(2);
            spin->setSingleStep(0.1);
            if (slot.ranged)
                spin->setRange(slot.min, slot.max);
            else
                spin->setRange(-1e9, 1e9);
            const float value = command.m_fParam[static_cast<size_t>(FloatIndex(slot.slot))];
            const bool fill = value == PARAM_UNSET_FLOAT && slot.defaultKind == SlotDefault::Number;
            spin->setValue(fill ? FloatSlotDefault(id, slot.slot) : value);
            field = spin;
        } else if (IsTextSlot(slot.slot)) {
            std::string value = command.m_strParam[static_cast<size_t>(TextIndex(slot.slot))];
            if (value.empty() && slot.defaultKind == SlotDefault::Text && slot.defaultText)
                value = slot.defaultText;
            if (value.empty() && slot.defaultKind == SlotDefault::HomeFolder) value = HomeFolder();
            field = new QLineEdit(FromPath(value));
        } else {
            const COLORREF value = command.m_crColor[static_cast<size_t>(ColorIndex(slot.slot))];
            field = new ColorButton(value, TextFor(slot).label.remove('&'));
        }
        field->setObjectName(QStringLiteral("slot_%1").arg(SlotName(slot.slot)));
        field->setToolTip(QString::fromUtf8(slot.meaning));
        const RowText text = TextFor(slot);
        auto* label = new QLabel(text.label);
        label->setBuddy(field);
        label->setToolTip(QString::fromUtf8(slot.meaning));
        const int row = grid->rowCount();
        grid->addWidget(label, row, 0);
        grid->addWidget(field, row, 1);
        if (!text.hint.isEmpty()) {
            auto* hint = new QLabel(text.hint);
            hint->setWordWrap(true);
            hint->setForegroundRole(QPalette::PlaceholderText);
            QFont small = hint->font();
            small.setPointSizeF(small.pointSizeF() * 0.9);
            hint->setFont(small);
            grid->addWidget(hint, row + 1, 1);
        }
        fields_.push_back({&slot, field});
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->setObjectName(QStringLiteral("buttons"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addStretch(1);
    layout->addWidget(buttons);
}

void SlotEditor::accept() {
    for (const Field& f : fields_) {
        const Slot s = f.info->slot;
        if (IsIntSlot(s)) {
            command_.m_nParam[static_cast<size_t>(IntIndex(s))] =
                static_cast<QSpinBox*>(f.widget)->value();
        } else if (IsFloatSlot(s)) {
            command_.m_fParam[static_cast<size_t>(FloatIndex(s))] =
                static_cast<float>(static_cast<QDoubleSpinBox*>(f.widget)->value());
        } else if (IsTextSlot(s)) {
            command_.m_strParam[static_cast<size_t>(TextIndex(s))] =
                ToPath(static_cast<QLineEdit*>(f.widget)->text());
        } else {
            command_.m_crColor[static_cast<size_t>(ColorIndex(s))] =
                static_cast<ColorButton*>(f.widget)->color();
        }
    }
    QDialog::accept();
}
