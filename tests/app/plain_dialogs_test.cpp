// The parameter dialogs without a preview, driven through their widgets and
// checked against the slot table: what they show for an unset command, what
// OK writes (and that it writes nothing else), their ranges, their refusals,
// Cancel, the enabling rules of the colour reductions, and the files they
// read (palettes, watermarks).
#include "app/color_chooser.h"
#include "app/dialogs/color_button.h"
#include "app/dialogs/command_dialog.h"
#include "app/dialogs/plain_dialog.h"
#include "app/dialogs/plain_dialogs.h"
#include "app/dialogs/reduction_rules.h"
#include "app/slot_editor.h"
#include "app_test_support.h"
#include "batch/output_options.h"
#include "core/settings.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QColorDialog>
#include <QDir>
#include <QSlider>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <optional>

using apptest::FreshSettings;
using apptest::MakeImage;
using apptest::WriteBytes;
using apptest::WriteImage;

namespace {

const int32_t kServed[] = {CMD_RESIZE,          CMD_ROTATE,           CMD_ADD_BORDERS,
                           CMD_ENLARGE_CANVAS,  CMD_APPLY_PALETTE,    CMD_OPTIMIZED_PALETTE,
                           CMD_TO_2_COLORS,     CMD_TO_16_COLORS,     CMD_TO_256_COLORS,
                           CMD_SET_OUTPUT_OPTIONS, CMD_CIRCLE,        CMD_PENTAGON,
                           CMD_CROP,            CMD_COLOR_REPLACEMENT, CMD_OVERLAY_WATERMARK};

const Slot kAllSlots[] = {Slot::P0, Slot::P1, Slot::P2, Slot::P3, Slot::P4, Slot::P5,
                          Slot::P6, Slot::P7, Slot::P8, Slot::P9, Slot::F0, Slot::F1,
                          Slot::S0, Slot::S1, Slot::C0, Slot::C1};

bool IsIntSlot(Slot s) {
    return s <= Slot::P9;
}

QString Name(Slot s) {
    return QStringLiteral("slot_%1").arg(QLatin1String(SlotName(s)));
}

// A slot's value as text, for comparing whole commands slot by slot.
QString SlotText(const CScriptCommand& c, Slot s) {
    const auto i = static_cast<size_t>(s);
    if (IsIntSlot(s)) return QString::number(c.m_nParam[i]);
    if (s == Slot::F0 || s == Slot::F1) return QString::number(c.m_fParam[i - 10]);
    if (s == Slot::S0 || s == Slot::S1) return QString::fromStdString(c.m_strParam[i - 12]);
    return QString::number(c.m_crColor[i - 14]);
}

bool InTable(int32_t id, Slot s) {
    return FindSlotInfo(id, s) != nullptr;
}

// Marks every slot outside the kind's table with a value no dialog would
// write, so a write to one of them shows.
void MarkForeignSlots(CScriptCommand& c) {
    for (Slot s : kAllSlots) {
        if (InTable(c.m_nID, s)) continue;
        const auto i = static_cast<size_t>(s);
        if (IsIntSlot(s)) c.m_nParam[i] = 4242 + static_cast<int32_t>(i);
        else if (s == Slot::F0 || s == Slot::F1) c.m_fParam[i - 10] = 7.25f;
        else if (s == Slot::S0 || s == Slot::S1) c.m_strParam[i - 12] = "untouched";
        else c.m_crColor[i - 14] = RGB(9, 8, 7);
    }
}

// The table's proposal for an unset integer slot, forced into its range.
int32_t ProposedValue(int32_t id, Slot s) {
    const SlotInfo* info = FindSlotInfo(id, s);
    int32_t v = IntSlotDefault(id, s);
    if (info && info->ranged)
        v = std::clamp(v, static_cast<int32_t>(std::lround(info->min)),
                       static_cast<int32_t>(std::lround(info->max)));
    return v;
}

// What the control bound to an integer slot shows: a field, a choice or a
// check box; nothing when the slot has no control of its own.
std::optional<int> Shown(QDialog& d, Slot s) {
    if (auto* spin = d.findChild<QSpinBox*>(Name(s))) return spin->value();
    if (auto* group = d.findChild<QButtonGroup*>(Name(s))) return group->checkedId();
    if (auto* check = d.findChild<QCheckBox*>(Name(s))) return check->isChecked() ? 1 : 0;
    return std::nullopt;
}

QPushButton* OkButton(QDialog& d) {
    if (auto* box = d.findChild<QDialogButtonBox*>(QStringLiteral("buttons")))
        return box->button(QDialogButtonBox::Ok);
    return d.findChild<QPushButton*>(QStringLiteral("finish"));
}

// Confirms the dialog the way the user would; true when it closed.
bool PressOk(QDialog& d) {
    d.show();
    if (QPushButton* ok = OkButton(d))
        ok->click();
    else
        d.accept();
    return d.result() == QDialog::Accepted && !d.isVisible();
}

void PressCancel(QDialog& d) {
    d.show();
    if (auto* box = d.findChild<QDialogButtonBox*>(QStringLiteral("buttons")))
        box->button(QDialogButtonBox::Cancel)->click();
    else if (auto* cancel = d.findChild<QPushButton*>(QStringLiteral("cancel")))
        cancel->click();
    else
        d.reject();
}

QByteArray TextPalette(int count) {
    QByteArray t = "KERV-PAL\r\n0100\r\n" + QByteArray::number(count) + "\r\n";
    for (int i = 0; i < count; ++i)
        t += QByteArray::number(i) + ' ' + QByteArray::number(255 - i) + " 7\r\n";
    return t;
}

QByteArray RiffPalette(int entries) {
    QByteArray data;
    auto u16 = [&data](int v) {
        data.append(static_cast<char>(v & 0xFF));
        data.append(static_cast<char>((v >> 8) & 0xFF));
    };
    u16(0x300);
    u16(entries);
    for (int i = 0; i < entries; ++i)
        data.append(QByteArray(1, static_cast<char>(i)) + "\x10\x20" + QByteArray(1, '\0'));
    auto u32 = [](int v) {
        QByteArray b;
        for (int k = 0; k < 4; ++k)
            b.append(static_cast<char>((v >> (8 * k)) & 0xFF));
        return b;
    };
    const QByteArray chunk = "data" + u32(static_cast<int>(data.size())) + data;
    return "RIFF" + u32(static_cast<int>(chunk.size()) + 4) + "PAL " + chunk;
}

} // namespace

class PlainDialogsTest : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> dir_;
    QStringList told_;
    QStringList chooserTitles_;
    QStringList chooserFilters_;
    QStringList answers_; // the files the file chooser "picks", in turn

    QString path(const QString& name) const { return dir_->filePath(name); }
    QString writeFile(const QString& name, const QByteArray& bytes) {
        const QString p = path(name);
        return WriteBytes(p, bytes) ? p : QString();
    }
    void kindColumn() {
        QTest::addColumn<int>("kind");
        for (int32_t id : kServed)
            QTest::newRow(CommandDisplayName(id).c_str()) << static_cast<int>(id);
    }
    // Makes the dialog OK needs for the kind: "Apply a New Palette" is
    // refused without a palette file, so one is chosen first.
    void prepareForOk(QDialog& d, int32_t id) {
        if (id != CMD_APPLY_PALETTE) return;
        answers_ << writeFile(QStringLiteral("ok.pal"), TextPalette(16));
        d.findChild<QPushButton*>(QStringLiteral("browse"))->click();
    }

  private slots:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        FreshSettings(*dir_);
        told_.clear();
        chooserTitles_.clear();
        chooserFilters_.clear();
        answers_.clear();
        DialogHooks().message = [this](QWidget*, const QString& text) { told_ << text; };
        DialogHooks().openFile = [this](QWidget*, const QString& title, const QString&,
                                        const QString& filter) {
            chooserTitles_ << title;
            chooserFilters_ << filter;
            return answers_.isEmpty() ? QString() : answers_.takeFirst();
        };
    }

    // ---- Every kind ----

    void everyKindGetsItsOwnDialog_data() { kindColumn(); }
    void everyKindGetsItsOwnDialog() {
        QFETCH(int, kind);
        CScriptCommand c(kind);
        const std::unique_ptr<QDialog> d = MakeCommandDialog(c, nullptr, nullptr);
        QVERIFY(d);
        QCOMPARE(d->objectName(), QStringLiteral("plainDialog_%1").arg(kind));
        QVERIFY(!qobject_cast<SlotEditor*>(d.get()));
        // Every control the user can reach has a name.
        for (QWidget* w : d->findChildren<QWidget*>()) {
            if (!qobject_cast<QAbstractButton*>(w) && !qobject_cast<QSpinBox*>(w) &&
                !qobject_cast<QLineEdit*>(w))
                continue;
            if (kind == CMD_CIRCLE || kind == CMD_PENTAGON) continue; // Qt's colour dialog
            if (w->parent() && qobject_cast<QSpinBox*>(w->parent())) continue; // its line edit
            if (w->parent() && qobject_cast<QDialogButtonBox*>(w->parent())) continue; // OK, Cancel
            QVERIFY2(!w->objectName().isEmpty(), qPrintable(w->metaObject()->className()));
        }
    }

    void unsetCommandsShowTheDefaultsAndOkWritesOnlyTheKindsSlots_data() { kindColumn(); }
    void unsetCommandsShowTheDefaultsAndOkWritesOnlyTheKindsSlots() {
        QFETCH(int, kind);
        CScriptCommand c(kind);
        MarkForeignSlots(c);
        const CScriptCommand before = c;
        const std::unique_ptr<QDialog> d = MakeCommandDialog(c, nullptr, nullptr);
        const CommandInfo* info = FindCommandInfo(kind);
        for (const SlotInfo& s : info->slotTable) {
            if (!IsIntSlot(s.slot)) continue;
            if (const std::optional<int> shown = Shown(*d, s.slot))
                QCOMPARE(*shown, ProposedValue(kind, s.slot));
        }
        // What OK should leave: the proposals, with the few slots a dialog
        // derives from its controls.
        CScriptCommand expected = before;
        for (const SlotInfo& s : info->slotTable) {
            if (IsIntSlot(s.slot)) expected.m_nParam[static_cast<size_t>(s.slot)] =
                ProposedValue(kind, s.slot);
            if (s.slot == Slot::C0 || s.slot == Slot::C1)
                expected.m_crColor[s.slot == Slot::C0 ? 0 : 1] = 0;
        }
        if (kind == CMD_RESIZE) expected.m_nParam[0] = 5; // both sizes given
        if (kind == CMD_SET_OUTPUT_OPTIONS)
            OutputSettingsToCommand(OutputSettingsFromCommand(before, HomeFolder()), expected);
        prepareForOk(*d, kind);
        if (kind == CMD_APPLY_PALETTE) expected.m_strParam[0] = path("ok.pal").toStdString();
        QVERIFY(PressOk(*d));
        QVERIFY2(told_.isEmpty(), qPrintable(told_.join('\n')));
        for (Slot s : kAllSlots)
            QVERIFY2(SlotText(c, s) == SlotText(expected, s),
                     qPrintable(QStringLiteral("%1: %2, expected %3")
                                    .arg(QLatin1String(SlotName(s)), SlotText(c, s),
                                         SlotText(expected, s))));
    }

    void cancelLeavesTheCommandAsItWas_data() { kindColumn(); }
    void cancelLeavesTheCommandAsItWas() {
        QFETCH(int, kind);
        CScriptCommand c(kind);
        c.m_nParam[1] = 1;
        const CScriptCommand before = c;
        const std::unique_ptr<QDialog> d = MakeCommandDialog(c, nullptr, nullptr);
        // Change every field and flip every check box before cancelling.
        for (QSpinBox* spin : d->findChildren<QSpinBox*>())
            spin->setValue(spin->value() == spin->minimum() ? spin->maximum() : spin->minimum());
        for (QCheckBox* check : d->findChildren<QCheckBox*>())
            check->toggle();
        if (auto* color = qobject_cast<QColorDialog*>(d.get())) color->setCurrentColor(Qt::red);
        PressCancel(*d);
        QCOMPARE(d->result(), int(QDialog::Rejected));
        for (Slot s : kAllSlots)
            QCOMPARE(SlotText(c, s), SlotText(before, s));
    }

    // Every field bound to a ranged slot takes its range's ends, holds values
    // beyond them at the ends, and a stored value beyond them opens at the
    // nearest end.
    void fieldsKeepToTheTablesRanges_data() { kindColumn(); }
    void fieldsKeepToTheTablesRanges() {
        QFETCH(int, kind);
        int checked = 0;
        for (const SlotInfo& s : FindCommandInfo(kind)->slotTable) {
            if (!IsIntSlot(s.slot) || !s.ranged) continue;
            const auto lo = static_cast<int>(s.min), hi = static_cast<int>(s.max);
            for (const auto& [stored, opensAt] : {std::pair{hi + 7, hi}, std::pair{lo - 7, lo}}) {
                CScriptCommand c(kind);
                c.m_nParam[static_cast<size_t>(s.slot)] = stored;
                const std::unique_ptr<QDialog> d = MakeCommandDialog(c, nullptr, nullptr);
                auto* spin = d->findChild<QSpinBox*>(Name(s.slot));
                if (!spin) break; // choices and checks: the shown value is checked above
                QCOMPARE(spin->value(), opensAt);
            }
            for (const auto& [typed, stored] :
                 {std::pair{lo, lo}, std::pair{hi, hi}, std::pair{hi + 1, hi}, std::pair{lo - 1, lo}}) {
                CScriptCommand c(kind);
                const std::unique_ptr<QDialog> d = MakeCommandDialog(c, nullptr, nullptr);
                auto* spin = d->findChild<QSpinBox*>(Name(s.slot));
                if (!spin) break;
                spin->setValue(typed);
                prepareForOk(*d, kind);
                if (!PressOk(*d)) {
                    // Only "Add Borders" refuses: the other margins are 5.
                    QFAIL(qPrintable(told_.join('\n')));
                }
                QCOMPARE(c.m_nParam[static_cast<size_t>(s.slot)], stored);
                ++checked;
            }
        }
        const bool hasFields = kind != CMD_APPLY_PALETTE && kind != CMD_TO_2_COLORS &&
                               kind != CMD_TO_16_COLORS && kind != CMD_TO_256_COLORS &&
                               kind != CMD_SET_OUTPUT_OPTIONS && kind != CMD_CIRCLE &&
                               kind != CMD_PENTAGON;
        QCOMPARE(checked > 0, hasFields);
    }

    // ---- Add Borders ----

    void bordersRefuseFourZeroMargins() {
        CScriptCommand c(CMD_ADD_BORDERS);
        const std::unique_ptr<QDialog> d = MakeCommandDialog(c, nullptr, nullptr);
        QCOMPARE(d->windowTitle(), QStringLiteral("Add Borders"));
        for (Slot s : {Slot::P0, Slot::P1, Slot::P2, Slot::P3})
            d->findChild<QSpinBox*>(Name(s))->setValue(0);
        QVERIFY(!PressOk(*d));
        QVERIFY(d->isVisible());
        QCOMPARE(told_, QStringList{"You must specify at least one non-zero value"});
        QCOMPARE(c.m_nParam[0], PARAM_UNSET);
        d->findChild<QSpinBox*>(Name(Slot::P3))->setValue(1);
        QVERIFY(PressOk(*d));
        QCOMPARE(c.m_nParam[3], 1);
        QCOMPARE(c.m_nParam[0], 0);
    }

    void symmetricChecksKeepTheirFieldsEqual_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("check");
        QTest::addColumn<QStringList>("fields");
        QTest::newRow("borders") << int(CMD_ADD_BORDERS) << "slot_P4"
                                 << QStringList{"slot_P2", "slot_P3", "slot_P0", "slot_P1"};
        QTest::newRow("crop edges") << int(CMD_CROP) << "slot_P7"
                                    << QStringList{"slot_P3", "slot_P4", "slot_P5", "slot_P6"};
        QTest::newRow("crop centre") << int(CMD_CROP) << "slot_P8"
                                     << QStringList{"slot_P2", "slot_P1"};
    }
    void symmetricChecksKeepTheirFieldsEqual() {
        QFETCH(int, kind);
        QFETCH(QString, check);
        QFETCH(QStringList, fields);
        CScriptCommand c(kind);
        c.m_nParam[static_cast<size_t>(fields.size() == 2 ? 1 : 3)] = 33;
        const std::unique_ptr<QDialog> d = MakeCommandDialog(c, nullptr, nullptr);
        auto field = [&](int i) { return d->findChild<QSpinBox*>(fields[i]); };
        field(1)->setValue(12); // not symmetric yet: only this one changes
        QCOMPARE(field(0)->value() == 12, false);
        d->findChild<QCheckBox*>(check)->setChecked(true);
        for (int i = 0; i < fields.size(); ++i)
            QCOMPARE(field(i)->value(), field(0)->value());
        field(fields.size() - 1)->setValue(21);
        for (int i = 0; i < fields.size(); ++i)
            QCOMPARE(field(i)->value(), 21);
        QVERIFY(PressOk(*d));
        for (const QString& f : fields)
            QCOMPARE(c.m_nParam[static_cast<size_t>(f.mid(6).toInt())], 21);
    }

    // ---- Resize/Resample Image ----

    void resizeStoresTheSizeChoiceAsAMode_data() {
        QTest::addColumn<int>("storedMode");
        QTest::addColumn<QString>("choose"); // "" keeps what the dialog shows
        QTest::addColumn<int>("shownWidth");
        QTest::addColumn<int>("shownHeight");
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::newRow("fixed 800 x 600 becomes both sizes") << 3 << "" << 800 << 600 << 5 << 800 << 600;
        QTest::newRow("fixed 320 x 200") << 0 << "" << 320 << 200 << 5 << 320 << 200;
        QTest::newRow("width keeping aspect") << 6 << "" << 40 << 50 << 6 << 40 << 50;
        QTest::newRow("height keeping aspect") << 7 << "" << 40 << 50 << 7 << 40 << 50;
        QTest::newRow("switch to height keeping aspect") << 5 << "aspect_2" << 40 << 50 << 7 << 40 << 50;
        QTest::newRow("tile box") << 8 << "" << 40 << 50 << 8 << 40 << 50;
        QTest::newRow("switch to the tile") << 5 << "sizeKind_tile" << 40 << 50 << 8 << 40 << 50;
    }
    void resizeStoresTheSizeChoiceAsAMode() {
        QFETCH(int, storedMode);
        QFETCH(QString, choose);
        QFETCH(int, shownWidth);
        QFETCH(int, shownHeight);
        QFETCH(int, mode);
        QFETCH(int, width);
        QFETCH(int, height);
        CScriptCommand c(CMD_RESIZE);
        c.m_nParam[0] = storedMode;
        c.m_nParam[2] = 40;
        c.m_nParam[3] = 50;
        c.m_nParam[4] = 1;
        const std::unique_ptr<QDialog> d = MakeCommandDialog(c, nullptr, nullptr);
        const bool tile = storedMode == 8;
        auto* w = d->findChild<QSpinBox*>(tile ? "tile_P2" : "slot_P2");
        auto* h = d->findChild<QSpinBox*>(tile ? "tile_P3" : "slot_P3");
        QCOMPARE(w->value(), shownWidth);
        QCOMPARE(h->value(), shownHeight);
        QVERIFY(w->isEnabled() || storedMode == 7);
        QCOMPARE(d->findChild<QSpinBox*>("slot_P3")->isEnabled(), storedMode != 6 && !tile);
        // A fixed size is in pixels, whatever the percent slot held.
        QCOMPARE(d->findChild<QCheckBox*>("slot_P4")->isChecked(), storedMode > 4);
        if (!choose.isEmpty()) d->findChild<QAbstractButton*>(choose)->click();
        QVERIFY(PressOk(*d));
        QCOMPARE(c.m_nParam[0], mode);
        QCOMPARE(c.m_nParam[2], width);
        QCOMPARE(c.m_nParam[3], height);
    }

    void resizeTakesTheSizesOfTheChosenGroup() {
        CScriptCommand c(CMD_RESIZE);
        const std::unique_ptr<QDialog> d = MakeCommandDialog(c, nullptr, nullptr);
        d->findChild<QSpinBox*>("slot_P2")->setValue(640);
        d->findChild<QSpinBox*>("tile_P2")->setValue(300);
        d->findChild<QSpinBox*>("tile_P3")->setValue(200);
        d->findChild<QAbstractButton*>("sizeKind_tile")->click();
        QVERIFY(!d->findChild<QSpinBox*>("slot_P2")->isEnabled());
        QVERIFY(d->findChild<QSpinBox*>("tile_P2")->isEnabled());
        QVERIFY(PressOk(*d));
        QCOMPARE(c.m_nParam[0], 8);
        QCOMPARE(c.m_nParam[2], 300);
        QCOMPARE(c.m_nParam[3], 200);
    }

    // ---- Rotate Image ----

    void rotateOffersTheFreeAngleOnlyWhenChosen() {
        CScriptCommand c(CMD_ROTATE);
        const std::unique_ptr<QDialog> d = MakeCommandDialog(c, nullptr, nullptr);
        auto* free = d->findChild<QSpinBox*>("slot_P0");
        QVERIFY(!free->isEnabled());
        d->findChild<QAbstractButton*>("slot_P1_3")->click();
        QVERIFY(free->isEnabled());
        free->setValue(33);
        d->findChild<QAbstractButton*>("slot_P2_1")->click();
        QVERIFY(PressOk(*d));
        QCOMPARE(c.m_nParam[0], 33);
        QCOMPARE(c.m_nParam[1], 3);
        QCOMPARE(c.m_nParam[2], 1);
    }

    // ---- Colour reduction ----

    void reductionRules_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("palette");
        QTest::addColumn<int>("method");
        QTest::addColumn<bool>("ordered");
        QTest::addColumn<bool>("windows");
        QTest::addColumn<bool>("bleeding");
        QTest::addColumn<bool>("diffusionKind");
        QTest::addColumn<int>("methodAfter");
        QTest::newRow("256, median cut, ordered falls back to nearest")
            << int(CMD_TO_256_COLORS) << 0 << 1 << false << true << false << false << 0;
        QTest::newRow("256, octree, diffusion")
            << int(CMD_TO_256_COLORS) << 1 << 2 << false << true << true << true << 2;
        QTest::newRow("256, standard, ordered")
            << int(CMD_TO_256_COLORS) << 2 << 1 << true << false << false << false << 1;
        QTest::newRow("256, standard, nearest")
            << int(CMD_TO_256_COLORS) << 2 << 0 << true << false << false << false << 0;
        QTest::newRow("16, octree, ordered falls back")
            << int(CMD_TO_16_COLORS) << 1 << 1 << false << true << false << false << 0;
        QTest::newRow("16, Windows', diffusion")
            << int(CMD_TO_16_COLORS) << 2 << 2 << true << false << true << true << 2;
        QTest::newRow("2 colours, diffusion") << int(CMD_TO_2_COLORS) << 0 << 2 << true << true
                                              << true << true << 2;
        QTest::newRow("2 colours, ordered") << int(CMD_TO_2_COLORS) << 0 << 1 << true << true
                                            << false << false << 1;
        QTest::newRow("optimized, diffusion") << int(CMD_OPTIMIZED_PALETTE) << 0 << 1 << false
                                              << true << true << true << 1;
        QTest::newRow("optimized, nearest") << int(CMD_OPTIMIZED_PALETTE) << 1 << 0 << false
                                            << true << false << false << 0;
    }
    void reductionRules() {
        QFETCH(int, kind);
        QFETCH(int, palette);
        QFETCH(int, method);
        QFETCH(bool, ordered);
        QFETCH(bool, windows);
        QFETCH(bool, bleeding);
        QFETCH(bool, diffusionKind);
        QFETCH(int, methodAfter);
        const ReductionEnabling e = ReductionEnablingFor(kind, palette, methodAfter);
        QCOMPARE(ReductionMethodFor(kind, palette, method), methodAfter);
        QCOMPARE(e.orderedDither, ordered);
        QCOMPARE(e.windowsColors, windows);
        QCOMPARE(e.reduceBleeding, bleeding);
        QCOMPARE(e.diffusionKind, diffusionKind);

        // The dialog: opened on a different combination, then switched to
        // this one by the user.
        const Slot paletteSlot = kind == CMD_OPTIMIZED_PALETTE ? Slot::P4 : Slot::P0;
        const Slot methodSlot = kind == CMD_TO_2_COLORS ? Slot::P2
                                : kind == CMD_OPTIMIZED_PALETTE ? Slot::P2 : Slot::P1;
        CScriptCommand c(kind);
        const std::unique_ptr<QDialog> d = MakeCommandDialog(c, nullptr, nullptr);
        // The method first on the standard palette, where every method is
        // offered; then the palette, which may take the method away.
        if (kind != CMD_TO_2_COLORS && kind != CMD_OPTIMIZED_PALETTE)
            d->findChild<QAbstractButton*>(Name(paletteSlot) + "_2")->click();
        d->findChild<QAbstractButton*>(Name(methodSlot) + "_" + QString::number(method))->click();
        QCOMPARE(*Shown(*d, methodSlot), method);
        if (kind != CMD_TO_2_COLORS)
            d->findChild<QAbstractButton*>(Name(paletteSlot) + "_" + QString::number(palette))
                ->click();
        QCOMPARE(*Shown(*d, methodSlot), methodAfter);
        if (kind != CMD_OPTIMIZED_PALETTE)
            QCOMPARE(d->findChild<QAbstractButton*>(Name(methodSlot) + "_1")->isEnabled(), ordered);
        const Slot windowsSlot = kind == CMD_OPTIMIZED_PALETTE ? Slot::P1 : Slot::P2;
        if (kind == CMD_TO_256_COLORS || kind == CMD_OPTIMIZED_PALETTE)
            QCOMPARE(d->findChild<QCheckBox*>(Name(windowsSlot))->isEnabled(), windows);
        const Slot bleedSlot = kind == CMD_TO_16_COLORS ? Slot::P2 : Slot::P3;
        if (kind != CMD_TO_2_COLORS)
            QCOMPARE(d->findChild<QCheckBox*>(Name(bleedSlot))->isEnabled(), bleeding);
        else
            for (int i = 0; i < 3; ++i)
                QCOMPARE(d->findChild<QAbstractButton*>("slot_P3_" + QString::number(i))
                             ->isEnabled(),
                         diffusionKind);
        QVERIFY(PressOk(*d));
        QCOMPARE(c.m_nParam[static_cast<size_t>(methodSlot)], methodAfter);
    }

    void reductionOpensAStoredForbiddenCombinationCorrected() {
        CScriptCommand c(CMD_TO_256_COLORS);
        c.m_nParam[0] = 1; // octree
        c.m_nParam[1] = 1; // ordered dither, which only the standard palette has
        const std::unique_ptr<QDialog> d = MakeCommandDialog(c, nullptr, nullptr);
        QCOMPARE(*Shown(*d, Slot::P1), 0);
        QCOMPARE(d->windowTitle(), QStringLiteral("Change to 256 Colors (8 bit)"));
    }

    void optimizedPaletteCountsTheWindowsColours_data() {
        QTest::addColumn<int>("total");
        QTest::addColumn<bool>("windows");
        QTest::addColumn<int>("colors");
        QTest::addColumn<int>("withWindows");
        QTest::newRow("256 with Windows' colours") << 256 << true << 236 << 1;
        QTest::newRow("16 with Windows' colours: too few") << 16 << true << 16 << 0;
        QTest::newRow("19 with Windows' colours: too few") << 19 << true << 19 << 0;
        // 20 would leave no colour to take from the images.
        QTest::newRow("20 with Windows' colours: too few") << 20 << true << 20 << 0;
        QTest::newRow("21 with Windows' colours") << 21 << true << 1 << 1;
        QTest::newRow("100 without") << 100 << false << 100 << 0;
    }
    void optimizedPaletteCountsTheWindowsColours() {
        QFETCH(int, total);
        QFETCH(bool, windows);
        QFETCH(int, colors);
        QFETCH(int, withWindows);
        CScriptCommand c(CMD_OPTIMIZED_PALETTE);
        {
            const std::unique_ptr<QDialog> d = MakeCommandDialog(c, nullptr, nullptr);
            d->findChild<QSpinBox*>("slot_P0")->setValue(total);
            d->findChild<QCheckBox*>("slot_P1")->setChecked(windows);
            QVERIFY(PressOk(*d));
        }
        QCOMPARE(c.m_nParam[0], colors);
        QCOMPARE(c.m_nParam[1], withWindows);
        // Opened again, it shows the total.
        const std::unique_ptr<QDialog> again = MakeCommandDialog(c, nullptr, nullptr);
        QCOMPARE(again->findChild<QSpinBox*>("slot_P0")->value(), total);
        QCOMPARE(again->findChild<QCheckBox*>("slot_P1")->isChecked(), withWindows == 1);
    }

    // ---- Apply a New Palette ----

    void paletteFilesAreReadBeforeTheyAreTaken() {
        const QString good = writeFile("good.pal", TextPalette(16));
        const QString riff = writeFile("riff.pal", RiffPalette(20));
        const QString bad = writeFile("bad.pal", "KERV-PAL\r\n0100\r\n16\r\n1  2 3\r\n");
        const QString missing = path("missing.pal");
        CScriptCommand c(CMD_APPLY_PALETTE);
        c.m_strParam[0] = good.toStdString();
        const std::unique_ptr<QDialog> d = MakeCommandDialog(c, nullptr, nullptr);
        QCOMPARE(d->findChild<QLabel*>("paletteInfo")->text(), QStringLiteral("16 colors"));
        auto* browse = d->findChild<QPushButton*>("browse");
        answers_ << bad << missing;
        browse->click();
        browse->click();
        QCOMPARE(told_.size(), 2);
        QVERIFY(told_[0].startsWith("The palette file " + bad + " could not be read: "));
        QVERIFY(told_[1].startsWith("The palette file " + missing + " could not be read: "));
        QCOMPARE(d->findChild<QLineEdit*>("slot_S0")->text(), good);
        QCOMPARE(chooserTitles_.first(), QStringLiteral("Open Palette File"));
        QCOMPARE(chooserFilters_.first(), QStringLiteral("PAL - Palette File (*.pal);;All Files (*)"));
        QVERIFY(PressOk(*d));
        QCOMPARE(QString::fromStdString(c.m_strParam[0]), good);

        // A RIFF palette is taken as well; a cancelled choice changes nothing.
        const std::unique_ptr<QDialog> d2 = MakeCommandDialog(c, nullptr, nullptr);
        answers_ << riff;
        d2->findChild<QPushButton*>("browse")->click();
        d2->findChild<QPushButton*>("browse")->click(); // answers nothing: cancelled
        QCOMPARE(d2->findChild<QLabel*>("paletteInfo")->text(), QStringLiteral("256 colors"));
        d2->findChild<QAbstractButton*>("slot_P0_2")->click();
        QVERIFY(PressOk(*d2));
        QCOMPARE(QString::fromStdString(c.m_strParam[0]), riff);
        QCOMPARE(c.m_nParam[0], 2);
    }

    void paletteOkNeedsAFile() {
        CScriptCommand c(CMD_APPLY_PALETTE);
        const std::unique_ptr<QDialog> d = MakeCommandDialog(c, nullptr, nullptr);
        QVERIFY(!PressOk(*d));
        QCOMPARE(told_, QStringList{"Please choose a palette file."});
        QCOMPARE(c.m_nParam[0], PARAM_UNSET);
    }

    // ---- Overlay Watermark ----

    void unreadableWatermarksAreReportedAndTheOldOneKept() {
        KOwnedHandle image(MakeImage(30, 20, 8, 5));
        const QString mark = path("mark.bmp");
        QVERIFY(WriteImage(image.get(), mark));
        const QString other = path("other.bmp");
        KOwnedHandle big(MakeImage(64, 48, 24, 6));
        QVERIFY(WriteImage(big.get(), other));
        const QString junk = writeFile("junk.png", "not a picture at all");
        CScriptCommand c(CMD_OVERLAY_WATERMARK);
        c.m_strParam[0] = mark.toStdString();
        const std::unique_ptr<QDialog> d = MakeCommandDialog(c, nullptr, nullptr);
        auto* info = d->findChild<QLabel*>("watermarkInfo");
        QCOMPARE(info->text(), QStringLiteral("mark.bmp\n30 x 20 pixels"));
        QVERIFY(!d->findChild<QLabel*>("watermarkPicture")->pixmap().isNull());
        answers_ << junk;
        d->findChild<QPushButton*>("loadWatermark")->click();
        QCOMPARE(told_.size(), 1);
        QVERIFY(told_[0].startsWith("The watermark " + junk + " could not be read: "));
        QCOMPARE(info->text(), QStringLiteral("mark.bmp\n30 x 20 pixels"));
        QVERIFY(PressOk(*d));
        QCOMPARE(QString::fromStdString(c.m_strParam[0]), mark);

        const std::unique_ptr<QDialog> d2 = MakeCommandDialog(c, nullptr, nullptr);
        answers_ << other;
        d2->findChild<QPushButton*>("loadWatermark")->click();
        QCOMPARE(d2->findChild<QLabel*>("watermarkInfo")->text(),
                 QStringLiteral("other.bmp\n64 x 48 pixels"));
        QCOMPARE(chooserTitles_.last(), QStringLiteral("Open Watermark Image"));
        QVERIFY(PressOk(*d2));
        QCOMPARE(QString::fromStdString(c.m_strParam[0]), other);
    }

    void watermarkSlidersFollowTheirFields() {
        CScriptCommand c(CMD_OVERLAY_WATERMARK);
        c.m_nParam[3] = 77; // kept: the operation never reads it
        const std::unique_ptr<QDialog> d = MakeCommandDialog(c, nullptr, nullptr);
        QCOMPARE(d->findChild<QLabel*>("watermarkInfo")->text(), QStringLiteral("No watermark loaded"));
        d->findChild<QSlider*>("slot_P1_slider")->setValue(25);
        QCOMPARE(d->findChild<QSpinBox*>("slot_P1")->value(), 25);
        d->findChild<QSpinBox*>("slot_P2")->setValue(40);
        QCOMPARE(d->findChild<QSlider*>("slot_P2_slider")->value(), 40);
        // Tolerance and the transparent colour matter only with transparency.
        d->findChild<QCheckBox*>("slot_P5")->setChecked(false);
        QVERIFY(!d->findChild<QSpinBox*>("slot_P4")->isEnabled());
        QVERIFY(!d->findChild<ColorButton*>("slot_C0")->isEnabled());
        QVERIFY(PressOk(*d));
        QCOMPARE(c.m_nParam[1], 25);
        QCOMPARE(c.m_nParam[2], 40);
        QCOMPARE(c.m_nParam[3], 77);
        QCOMPARE(c.m_nParam[5], 0);
    }

    // ---- Color Replacement ----

    void replacementColoursAreTheirFields() {
        CScriptCommand c(CMD_COLOR_REPLACEMENT);
        c.m_crColor[0] = RGB(1, 2, 3);
        c.m_crColor[1] = RGB(200, 100, 50);
        const std::unique_ptr<QDialog> d = MakeCommandDialog(c, nullptr, nullptr);
        auto field = [&](const char* name) { return d->findChild<QSpinBox*>(name); };
        QCOMPARE(field("slot_C0_red")->value(), 1);
        QCOMPARE(field("slot_C0_blue")->value(), 3);
        QCOMPARE(field("slot_C1_green")->value(), 100);
        field("slot_C0_green")->setValue(222);
        field("slot_C1_red")->setValue(300); // beyond 255: held at 255
        QCOMPARE(d->findChild<ColorButton*>("slot_C0")->color(), RGB(1, 222, 3));
        QCOMPARE(d->findChild<ColorButton*>("slot_C0")->text(), QStringLiteral("&Color..."));
        QCOMPARE(d->findChild<ColorButton*>("slot_C1")->text(), QStringLiteral("C&olor..."));
        QVERIFY(PressOk(*d));
        QCOMPARE(c.m_crColor[0], RGB(1, 222, 3));
        QCOMPARE(c.m_crColor[1], RGB(255, 100, 50));
    }

    // ---- Set Output Options ----

    void outputOptionsWriteEveryOutputSlot() {
        const QString folder = path("out");
        CScriptCommand c(CMD_SET_OUTPUT_OPTIONS);
        c.m_nParam[0] = 18; // PNG
        c.m_nParam[2] = 150 | (1 << 16);
        c.m_nParam[4] = (3 << 8) | 9;
        c.m_strParam[0] = folder.toStdString();
        c.m_crColor[0] = RGB(1, 2, 3);
        MarkForeignSlots(c);
        const CScriptCommand before = c;
        const std::unique_ptr<QDialog> d = MakeCommandDialog(c, nullptr, nullptr);
        QCOMPARE(d->windowTitle(), QStringLiteral("Set Output Options"));
        d->findChild<QCheckBox*>("retainDirectory")->setChecked(true);
        QVERIFY(PressOk(*d));
        OutputSettings expected = OutputSettingsFromCommand(before, HomeFolder());
        expected.retainDirectory = true;
        const OutputSettings got = OutputSettingsFromCommand(c, HomeFolder());
        QCOMPARE(got.id, 19);
        QCOMPARE(got.retainDirectory, true);
        QCOMPARE(got.folder, expected.folder);
        QCOMPARE(got.options.dpi, 150);
        QCOMPARE(got.options.maintainDPI, 1);
        QCOMPARE(got.options.transparencyType, 3);
        QCOMPARE(got.options.transparencyIndex, 9);
        QCOMPARE(c.m_crColor[0], RGB(1, 2, 3));
        for (Slot s : kAllSlots)
            if (!InTable(CMD_SET_OUTPUT_OPTIONS, s)) QCOMPARE(SlotText(c, s), SlotText(before, s));
    }

    void outputOptionsKeepAFolderTextLeftAsItWas() {
        QVERIFY(QDir(HomeFolder().c_str()).exists());
        CScriptCommand c(CMD_SET_OUTPUT_OPTIONS);
        c.m_strParam[0] = HomeFolder() + "/";
        const std::unique_ptr<QDialog> d = MakeCommandDialog(c, nullptr, nullptr);
        QVERIFY(PressOk(*d));
        QCOMPARE(c.m_strParam[0], HomeFolder() + "/");
        QCOMPARE(c.m_nParam[0], 0);
    }

    // ---- Deform: Circle and Pentagon ----

    void backgroundColourPickerSetsTheColourAndKeepsCustomColours_data() {
        QTest::addColumn<int>("kind");
        QTest::newRow("circle") << int(CMD_CIRCLE);
        QTest::newRow("pentagon") << int(CMD_PENTAGON);
    }
    void backgroundColourPickerSetsTheColourAndKeepsCustomColours() {
        QFETCH(int, kind);
        CustomColors stored{};
        stored[3] = RGB(11, 22, 33);
        StoreCustomColors(AppSettings(), stored);
        CScriptCommand c(kind);
        c.m_crColor[0] = RGB(10, 20, 30);
        const std::unique_ptr<QDialog> d = MakeCommandDialog(c, nullptr, nullptr);
        auto* picker = qobject_cast<QColorDialog*>(d.get());
        QVERIFY(picker);
        QCOMPARE(picker->windowTitle(), QStringLiteral("Select Background Color"));
        QCOMPARE(picker->currentColor(), QColor(10, 20, 30));
        QCOMPARE(QColorDialog::customColor(3), QColor(11, 22, 33));
        QColorDialog::setCustomColor(5, QColor(7, 8, 9));
        picker->setCurrentColor(QColor(40, 50, 60));
        QVERIFY(PressOk(*d));
        QCOMPARE(c.m_crColor[0], RGB(40, 50, 60));
        QCOMPARE(LoadCustomColors(AppSettings())[5], RGB(7, 8, 9));
        QCOMPARE(LoadCustomColors(AppSettings())[3], RGB(11, 22, 33));
    }
};

QTEST_MAIN(PlainDialogsTest)
#include "plain_dialogs_test.moc"
