// The generic parameter editor built from the slot table (Print's, until
// printing comes), which dialog each kind gets, and the colour chooser's
// custom colours.
#include "app/color_chooser.h"
#include "app/dialogs/command_dialog.h"
#include "app/slot_editor.h"
#include "core/dib.h"

#include "app_test_support.h"

#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QtTest>


using namespace apptest;

namespace {

QWidget* Field(SlotEditor& e, Slot s) {
    return e.findChild<QWidget*>(QStringLiteral("slot_%1").arg(SlotName(s)));
}

} // namespace

class SlotEditorTest : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        FreshSettings(*dir_);
    }

    void oneFieldPerSlotWithTheTablesRange_data() {
        QTest::addColumn<int>("id");
        for (const CommandInfo& info : AllCommands())
            if (!info.slotTable.empty())
                QTest::newRow(CommandDisplayName(info.id).c_str()) << int(info.id);
    }
    void oneFieldPerSlotWithTheTablesRange() {
        QFETCH(int, id);
        CScriptCommand command(id);
        SlotEditor editor(command);
        const CommandInfo* info = FindCommandInfo(id);
        int fields = 0;
        for (QWidget* w : editor.findChildren<QWidget*>())
            if (w->objectName().startsWith("slot_")) ++fields;
        QCOMPARE(fields, int(info->slotTable.size()));
        for (const SlotInfo& slot : info->slotTable) {
            QWidget* w = Field(editor, slot.slot);
            QVERIFY2(w, SlotName(slot.slot));
            if (slot.slot <= Slot::P9) {
                auto* spin = qobject_cast<QSpinBox*>(w);
                QVERIFY(spin);
                if (slot.ranged) {
                    QCOMPARE(spin->minimum(), int(slot.min));
                    QCOMPARE(spin->maximum(), int(slot.max));
                }
            } else if (slot.slot == Slot::F0 || slot.slot == Slot::F1) {
                QVERIFY(qobject_cast<QDoubleSpinBox*>(w));
            } else if (slot.slot == Slot::S0 || slot.slot == Slot::S1) {
                QVERIFY(qobject_cast<QLineEdit*>(w));
            } else {
                QVERIFY(qobject_cast<ColorButton*>(w));
            }
        }
    }

    void everyKindButPrintHasADialogOfItsOwn_data() {
        QTest::addColumn<int>("id");
        for (const CommandInfo& info : AllCommands())
            if (CommandHasParameters(info.id))
                QTest::newRow(CommandDisplayName(info.id).c_str()) << int(info.id);
    }
    void everyKindButPrintHasADialogOfItsOwn() {
        QFETCH(int, id);
        KOwnedHandle preview(AllocDIB(64, 48, 24, 0));
        QVERIFY(preview);
        CScriptCommand command(id);
        const CScriptCommand before = command;
        {
            std::unique_ptr<QDialog> dialog = MakeCommandDialog(command, preview.get(), nullptr);
            QVERIFY(dialog);
            QCOMPARE(qobject_cast<SlotEditor*>(dialog.get()) != nullptr, id == CMD_PRINT);
            dialog->reject();
        }
        QVERIFY(command.m_nParam == before.m_nParam);
        QVERIFY(command.m_crColor == before.m_crColor);
        QVERIFY(command.m_strParam == before.m_strParam);
    }

    void unsetSlotsShowTheirDefaults() {
        CScriptCommand posterize(CMD_POSTERIZE), solarize(CMD_SOLARIZE), borders(CMD_ADD_BORDERS),
            gamma(CMD_GAMMA), output(CMD_SET_OUTPUT_OPTIONS);
        SlotEditor p(posterize), s(solarize), b(borders), g(gamma), o(output);
        QCOMPARE(qobject_cast<QSpinBox*>(Field(p, Slot::P0))->value(), 7);
        QCOMPARE(qobject_cast<QSpinBox*>(Field(s, Slot::P0))->value(), 254);
        QCOMPARE(qobject_cast<QSpinBox*>(Field(b, Slot::P3))->value(), 5);
        QCOMPARE(qobject_cast<QDoubleSpinBox*>(Field(g, Slot::F0))->value(), 1.2);
        QCOMPARE(qobject_cast<QLineEdit*>(Field(o, Slot::S0))->text(),
                 QString::fromStdString(HomeFolder()));
        QCOMPARE(qobject_cast<QSpinBox*>(Field(o, Slot::P1))->value(), -10);
    }

    void setSlotsShowTheirValues() {
        CScriptCommand c(CMD_ADD_BORDERS);
        c.m_nParam[0] = 17;
        c.m_crColor[0] = RGB(10, 20, 30);
        SlotEditor e(c);
        QCOMPARE(qobject_cast<QSpinBox*>(Field(e, Slot::P0))->value(), 17);
        QCOMPARE(qobject_cast<ColorButton*>(Field(e, Slot::C0))->color(), RGB(10, 20, 30));
        QCOMPARE(qobject_cast<ColorButton*>(Field(e, Slot::C0))->text(),
                 QStringLiteral("R: 10  G: 20  B: 30"));
    }

    void okWritesEveryFieldAndCancelNothing() {
        CScriptCommand c(CMD_OVERLAY_WATERMARK);
        const CScriptCommand before = c;
        for (bool ok : {false, true}) {
            SlotEditor e(c);
            qobject_cast<QLineEdit*>(Field(e, Slot::S0))->setText(QString::fromUtf8("/m/été.png"));
            qobject_cast<QSpinBox*>(Field(e, Slot::P2))->setValue(40);
            qobject_cast<ColorButton*>(Field(e, Slot::C0))->setColor(RGB(1, 2, 3));
            if (ok) {
                e.accept();
                QCOMPARE(e.result(), int(QDialog::Accepted));
            } else {
                e.reject();
                QCOMPARE(c.m_strParam, before.m_strParam);
                QVERIFY(c.m_nParam == before.m_nParam);
                QVERIFY(c.m_crColor == before.m_crColor);
            }
        }
        QCOMPARE(c.m_strParam[0], std::string("/m/\xc3\xa9t\xc3\xa9.png"));
        QCOMPARE(c.m_nParam[2], 40);
        QCOMPARE(c.m_crColor[0], RGB(1, 2, 3));
        // Untouched fields take the values they showed: the defaults.
        QCOMPARE(c.m_nParam[0], 100);
        QCOMPARE(c.m_nParam[5], 1);
        QCOMPARE(c.m_nParam[9], PARAM_UNSET);
    }

    void labelsCarryTheMnemonicsAndLeadToTheirFields() {
        CScriptCommand c(CMD_BRIGHTNESS_CONTRAST);
        SlotEditor e(c);
        QLabel* brightness = nullptr;
        for (QLabel* l : e.findChildren<QLabel*>())
            if (l->text() == QStringLiteral("% &Brightness:")) brightness = l;
        QVERIFY(brightness);
        QCOMPARE(brightness->buddy(), Field(e, Slot::P0));
        QCOMPARE(e.windowTitle(), QStringLiteral("Adjust Brightness/Contrast Parameters"));
    }

    void customColorsRoundTripThroughTheSettings() {
        CustomColors colors{};
        for (size_t i = 0; i < colors.size(); ++i)
            colors[i] = RGB(uint8_t(i), uint8_t(255 - i), uint8_t(i * 7));
        StoreCustomColors(AppSettings(), colors);
        const std::vector<uint8_t> bytes = AppSettings().Get(setting::ColorRefs);
        QCOMPARE(bytes.size(), size_t(64));
        // Colour 1 is red 1, green 254, blue 7, then a zero byte.
        QCOMPARE(bytes[4], uint8_t(1));
        QCOMPARE(bytes[5], uint8_t(254));
        QCOMPARE(bytes[6], uint8_t(7));
        QCOMPARE(bytes[7], uint8_t(0));
        QVERIFY(LoadCustomColors(AppSettings()) == colors);
        AppSettings().Set(setting::ColorRefs, std::vector<uint8_t>{1, 2, 3, 0, 9});
        const CustomColors shortValue = LoadCustomColors(AppSettings());
        QCOMPARE(shortValue[0], RGB(1, 2, 3));
        QCOMPARE(shortValue[1], COLORREF(0));
    }

  private:
    std::unique_ptr<QTemporaryDir> dir_;
};

QTEST_MAIN(SlotEditorTest)
#include "slot_editor_test.moc"
