// The parameter dialogs with a live preview: what each kind opens with, its
// limits and OK checks, what OK and Cancel write, that the preview is the
// dispatcher's result, and the preview machinery itself (thumbnail, late
// results, closing while a computation runs).
#include "app/dialogs/color_button.h"
#include "app/dialogs/dlg_with_preview.h"
#include "app/dialogs/preview_dialogs.h"
#include "app/preview/preview_image.h"

#include "app_test_support.h"
#include "core/random.h"
#include "formats/dibroutines.h"
#include "imaging/resample.h"
#include "tests/support/test_support.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QMessageBox>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <thread>

using namespace apptest;
using brellix::test::BlockBytes;
using brellix::test::MakeRandomDIB;
using brellix::test::PixelAt;

namespace {

// What each kind's dialog shows: its caption and the texts of its labels and
// choices, as the user reads them.
struct Kind {
    const char* name;
    int32_t id;
    const char* caption;
    std::vector<const char*> texts;
};

const std::vector<Kind>& Kinds() {
    static const std::vector<Kind> kinds = {
        {"brightness/contrast", 502, "Adjust Brightness/Contrast", {"% &Brightness:", "% &Contrast:"}},
        {"red/green/blue", 503, "Adjust Red/Green/Blue", {"% &Red:", "% &Green:", "% &Blue:"}},
        {"hue/saturation/luminance", 504, "Adjust Hue/Saturation/Lum.",
         {"% H&ue:", "% &Saturation:", "% &Luminance:"}},
        {"highlight/midtone/shadow", 505, "Adjust Highlight/Midtone/Shadow",
         {"% H&ighlight:", "% &Midtone:", "% &Shadow:"}},
        {"gamma", 511, "Gamma Correction", {"&Correction:"}},
        {"posterize", 516, "Posterize Image", {"&Bits Per Channel:"}},
        {"solarize", 517, "Solarize Image", {"&Threshold:"}},
        {"colorize", 524, "Colorize Image", {"H&ue:", "&Saturation:"}},
        {"horizontal perspective", 525, "Deform: Horizontal Perspective",
         {"% &Difference:", "&Color..."}},
        {"vertical perspective", 526, "Deform: Vertical Perspective",
         {"% &Difference:", "&Color..."}},
        {"horizontal cylinder", 527, "Warp", {"% &Effect:"}},
        {"vertical cylinder", 528, "Warp", {"% &Effect:"}},
        {"pinch", 529, "Warp", {"% &Effect:"}},
        {"punch", 530, "Warp", {"% &Effect:"}},
        {"unsharpen", 543, "Filter: Unsharpen", {"&Clipping:", "&Strength:"}},
        {"wind", 547, "Deform: Wind", {"From &right", "From &left", "&Strength:"}},
        {"motion blur", 548, "Deform: Motion Blur", {"&Direction", "Deg.", "&Intensity", "Pixels"}},
        {"skew", 549, "Deform: Skew", {"H&orizontal:", "&Vertical:", "&Color..."}},
        {"add noise", 550, "Filter: Add Noise", {"&Random", "&Uniform", "% &Noise:"}},
        {"mosaic", 556, "Filter: Mosaic", {"&Symmetric", "Block &width:", "Block h&eight:"}},
    };
    return kinds;
}

void AddKindRows() {
    QTest::addColumn<int>("id");
    for (const Kind& k : Kinds())
        QTest::newRow(k.name) << int(k.id);
}

DlgWithPreview* Open(CScriptCommand& command, KHANDLE preview, std::unique_ptr<QDialog>& holder) {
    holder = MakePreviewDialog(command, preview, nullptr);
    return dynamic_cast<DlgWithPreview*>(holder.get());
}

QWidget* Field(QDialog& d, Slot s) {
    return d.findChild<QWidget*>(QStringLiteral("slot_%1").arg(SlotName(s)));
}
QSpinBox* Spin(QDialog& d, Slot s) { return qobject_cast<QSpinBox*>(Field(d, s)); }

// The value a control shows, as it would be stored in its slot.
double ValueOf(QWidget* w) {
    if (auto* spin = qobject_cast<QSpinBox*>(w)) return spin->value();
    if (auto* spin = qobject_cast<QDoubleSpinBox*>(w)) return spin->value();
    if (auto* check = qobject_cast<QCheckBox*>(w)) return check->isChecked() ? 1 : 0;
    if (auto* colour = qobject_cast<ColorButton*>(w)) return colour->color();
    auto* second = w->findChild<QRadioButton*>(w->objectName() + "_1");
    auto* first = w->findChild<QRadioButton*>(w->objectName() + "_0");
    if (first && second && first->isChecked() != second->isChecked())
        return second->isChecked() ? 1 : 0;
    return -1;  // no such control, or no choice made
}

double SlotValue(const CScriptCommand& c, Slot s) {
    if (s <= Slot::P9) return c.m_nParam[size_t(s)];
    if (s == Slot::F0 || s == Slot::F1) return c.m_fParam[s == Slot::F0 ? 0 : 1];
    if (s == Slot::C0 || s == Slot::C1) return c.m_crColor[s == Slot::C0 ? 0 : 1];
    return 0;
}
void SetSlot(CScriptCommand& c, Slot s, double v) {
    if (s <= Slot::P9) c.m_nParam[size_t(s)] = int32_t(v);
    else if (s == Slot::F0 || s == Slot::F1) c.m_fParam[s == Slot::F0 ? 0 : 1] = float(v);
    else if (s == Slot::C0 || s == Slot::C1) c.m_crColor[s == Slot::C0 ? 0 : 1] = COLORREF(v);
}

// Moves a control off the value it shows: a step down (up at the bottom of
// its range), the other choice, the other check state, another colour.
// Answers the new value as it will be stored.
double Change(QWidget* w, const SlotInfo& info) {
    if (auto* spin = qobject_cast<QSpinBox*>(w)) {
        spin->setValue(spin->value() > info.min ? spin->value() - 1 : spin->value() + 1);
        return spin->value();
    }
    if (auto* spin = qobject_cast<QDoubleSpinBox*>(w)) {
        spin->setValue(spin->value() - 0.1);
        return float(spin->value());
    }
    if (auto* check = qobject_cast<QCheckBox*>(w)) {
        check->click();
        return check->isChecked() ? 1 : 0;
    }
    if (auto* colour = qobject_cast<ColorButton*>(w)) {
        colour->setColor(RGB(9, 180, 77));
        return RGB(9, 180, 77);
    }
    const bool second = ValueOf(w) == 1;
    w->findChild<QRadioButton*>(w->objectName() + (second ? "_0" : "_1"))->click();
    return second ? 0 : 1;
}

// Moves a spin box a quarter of its range towards the other end, so the
// picture changes visibly.
void Far(QWidget* w, const SlotInfo& info) {
    const double step = (info.max - info.min) / 4;
    if (auto* spin = qobject_cast<QSpinBox*>(w))
        spin->setValue(spin->value() + int(spin->value() > (info.min + info.max) / 2 ? -step : step));
    if (auto* spin = qobject_cast<QDoubleSpinBox*>(w))
        spin->setValue(spin->value() + (spin->value() > (info.min + info.max) / 2 ? -step : step));
}

// Every value from dark to light, with sharp edges: a diagonal ramp turned
// over in every other square, colours apart at 24 bits, the grey ramp at 8.
KHANDLE Gradient(int width, int height, int bits) {
    KHANDLE dib = AllocDIB(width, height, bits, bits == 8 ? 256 : 0);
    DIBLock d(dib);
    if (bits == 8)
        for (int i = 0; i < 256; ++i)
            d.palette()[i] = {uint8_t(i), uint8_t(i), uint8_t(i), 0};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t* p = d.row(y) + (bits == 24 ? 3 * x : x);
            p[0] = uint8_t((x + y) * 255 / (width + height));
            if ((x / 20 + y / 20) % 2) p[0] = uint8_t(255 - p[0]);
            if (bits == 24) {
                p[1] = uint8_t(x * 255 / width);
                p[2] = uint8_t(255 - y * 255 / height);
            }
        }
    return dib;
}

QStringList Texts(QDialog& d) {
    QStringList out;
    for (QLabel* l : d.findChildren<QLabel*>())
        out << l->text();
    for (QAbstractButton* b : d.findChildren<QAbstractButton*>())
        out << b->text();
    return out;
}

// Answers the modal windows that open while it lives: message boxes with OK,
// anything else (the colour chooser) with Cancel; keeps their texts and
// titles.
class ModalCatcher : public QObject {
  public:
    QStringList texts, titles;
    ModalCatcher() {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, this, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal || modal == ignored_) return;
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                texts << box->text();
                titles << box->windowTitle();
                box->accept();
            } else if (auto* chooser = qobject_cast<QColorDialog*>(modal)) {
                titles << chooser->windowTitle();
                chooser->reject();
            }
        });
        timer_.start();
    }
    // The dialog under test may itself be modal: leave it alone.
    void ignore(QWidget* w) { ignored_ = w; }

  private:
    QTimer timer_;
    QWidget* ignored_ = nullptr;
};

std::vector<uint8_t> Expected(const CScriptCommand& command, KHANDLE thumbnail, uint32_t seed,
                              KervErrorCode* code) {
    CScript script;
    script.InsertCommand(std::make_unique<CScriptCommand>(command), 0);
    KHANDLE made = nullptr;
    KervSrand(seed);
    RGBQUAD palette[256] = {};
    *code = script.DoCommand(0, thumbnail, &made, nullptr, "Preview Image", nullptr, palette, 0);
    KOwnedHandle owned(made);
    return made ? BlockBytes(made) : std::vector<uint8_t>{};
}

// A preview dialog whose operation the test controls: it makes a 1 x 1
// picture holding the value the dialog had when the computation started,
// after waiting for the gate; with ignoreStop unset it also gives up when
// asked to stop.
class GatedDialog : public DlgWithPreview {
  public:
    // Shared with the computations, which may outlive a test's look at them.
    std::shared_ptr<std::atomic<bool>> gate = std::make_shared<std::atomic<bool>>(true);
    std::shared_ptr<std::atomic<int>> started = std::make_shared<std::atomic<int>>(0);
    bool ignoreStop = true;
    int value = 1;
    GatedDialog(KHANDLE preview, int delay) : DlgWithPreview(preview, delay) {}
    void begin() { startPreview(); }
    void change(int v) {
        value = v;
        parameterChanged();
    }

  protected:
    Operation operation() const override {
        return [v = value, ignore = ignoreStop, gate = gate, started = started](
                   StatusControlBlock* status, KHANDLE, KHANDLE* result) {
            ++*started;
            // The picture is made first, so a stop has something to free.
            KHANDLE made = AllocDIB(1, 1, 8, 256);
            if (!made) return KERV_NO_MEMORY;
            brellix::test::SetPixel(made, 0, 0, uint32_t(v));
            *result = made;
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (!*gate && std::chrono::steady_clock::now() < deadline) {
                if (!ignore && status && status->progress && status->progress(status))
                    return KERV_STOPPED;  // leaves *result set: the base must free it
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
            return KERV_OK;
        };
    }
};

} // namespace

class PreviewDialogsTest : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        FreshSettings(*dir_);
        blocks_ = KML_LiveBlockCount();
        preview_.reset(MakeRandomDIB(320, 200, 24, 7));
    }
    void cleanup() {
        preview_.reset();
        QCOMPARE(KML_LiveBlockCount(), blocks_);
    }

    void everyKindIsServedAndNoOther() {
        std::vector<int32_t> expected;
        for (const Kind& k : Kinds())
            expected.push_back(k.id);
        const std::span<const int32_t> served = PreviewDialogCommands();
        QVERIFY(std::vector<int32_t>(served.begin(), served.end()) == expected);
        for (int32_t id = FIRST_COMMAND_ID; id <= LAST_COMMAND_ID; ++id) {
            CScriptCommand c(id);
            const bool listed = std::find(expected.begin(), expected.end(), id) != expected.end();
            QCOMPARE(MakePreviewDialog(c, preview_.get(), nullptr) != nullptr, listed);
            QCOMPARE(HasPreviewDialog(id), listed);
        }
    }

    void opensWithTheDefaultsCaptionAndLabels_data() { AddKindRows(); }
    void opensWithTheDefaultsCaptionAndLabels() {
        QFETCH(int, id);
        const Kind& kind = *std::find_if(Kinds().begin(), Kinds().end(),
                                         [id](const Kind& k) { return k.id == id; });
        CScriptCommand command(id);
        std::unique_ptr<QDialog> holder;
        DlgWithPreview* d = Open(command, preview_.get(), holder);
        QVERIFY(d);
        QCOMPARE(d->windowTitle(), QString::fromUtf8(kind.caption));
        const QStringList texts = Texts(*d);
        for (const char* t : kind.texts)
            QVERIFY2(texts.contains(QString::fromUtf8(t)), t);
        QVERIFY(d->findChild<QDialogButtonBox*>("buttons"));
        // One control per slot of the kind, showing the slot's default.
        for (const SlotInfo& s : FindCommandInfo(id)->slotTable) {
            QWidget* w = Field(*d, s.slot);
            QVERIFY2(w, SlotName(s.slot));
            double expected = 0;  // colours start black
            if (s.slot <= Slot::P9) expected = IntSlotDefault(id, s.slot);
            if (s.slot == Slot::F0)  // a float shown with two decimals
                QCOMPARE(float(ValueOf(w)), FloatSlotDefault(id, s.slot));
            else
                QCOMPARE(ValueOf(w), expected);
        }
        // A label leads to its field.
        for (QLabel* l : d->findChildren<QLabel*>())
            if (l->text().contains('&')) QVERIFY2(l->buddy(), qPrintable(l->text()));
    }

    void setSlotsShowTheirValues() {
        CScriptCommand skew(CMD_SKEW);
        skew.m_nParam[0] = -12;
        skew.m_nParam[1] = 33;
        skew.m_crColor[0] = RGB(200, 100, 50);
        CScriptCommand wind(CMD_WIND);
        wind.m_nParam[0] = 1;
        CScriptCommand gamma(CMD_GAMMA);
        gamma.m_fParam[0] = 2.5f;
        std::unique_ptr<QDialog> a, b, c;
        Open(skew, preview_.get(), a);
        Open(wind, preview_.get(), b);
        Open(gamma, preview_.get(), c);
        QCOMPARE(ValueOf(Field(*a, Slot::P0)), -12.0);
        QCOMPARE(ValueOf(Field(*a, Slot::P1)), 33.0);
        QCOMPARE(ValueOf(Field(*a, Slot::C0)), double(RGB(200, 100, 50)));
        QVERIFY(b->findChild<QRadioButton*>("slot_P0_1")->isChecked());
        QCOMPARE(ValueOf(Field(*c, Slot::F0)), 2.5);
    }

    // Every number field takes the ends of its range and nothing beyond:
    // values past the ends (also typed ones) stop at the end.
    void rangeEndsAreTakenAndNothingBeyond_data() {
        QTest::addColumn<int>("id");
        QTest::addColumn<int>("slot");
        for (const Kind& k : Kinds()) {
            if (k.id == CMD_POSTERIZE || k.id == CMD_SOLARIZE) continue;  // clamped instead
            for (const SlotInfo& s : FindCommandInfo(k.id)->slotTable)
                if (s.ranged && s.slot <= Slot::F1 && !(k.id == CMD_MOSAIC && s.slot == Slot::P2) &&
                    !((k.id == CMD_WIND || k.id == CMD_ADD_NOISE) && s.slot == Slot::P0))
                    QTest::newRow(qPrintable(QStringLiteral("%1 %2").arg(k.name, SlotName(s.slot))))
                        << int(k.id) << int(s.slot);
        }
    }
    void rangeEndsAreTakenAndNothingBeyond() {
        QFETCH(int, id);
        QFETCH(int, slot);
        const Slot s = Slot(slot);
        const SlotInfo& info = *FindSlotInfo(id, s);
        for (const bool top : {false, true}) {
            const double end = top ? info.max : info.min;
            for (const double asked : {end, top ? end + 1 : end - 1, top ? 1e12 : -1e12}) {
                CScriptCommand command(id);
                if (id == CMD_SKEW) command.m_nParam[s == Slot::P0 ? 1 : 0] = 5;  // not both 0
                if (id == CMD_MOSAIC) command.m_nParam[2] = 0;                     // not tied
                std::unique_ptr<QDialog> holder;
                DlgWithPreview* d = Open(command, preview_.get(), holder);
                if (auto* spin = Spin(*d, s))
                    spin->setValue(int(std::clamp(asked, -2e9, 2e9)));
                else
                    qobject_cast<QDoubleSpinBox*>(Field(*d, s))->setValue(asked);
                ModalCatcher catcher;
                d->accept();
                QCOMPARE(d->result(), int(QDialog::Accepted));
                QVERIFY(catcher.texts.isEmpty());
                QCOMPARE(SlotValue(command, s), double(float(end)));
            }
        }
    }

    void typedDigitsBeyondTheRangeAreNotTaken() {
        CScriptCommand command(CMD_BRIGHTNESS_CONTRAST);
        std::unique_ptr<QDialog> holder;
        DlgWithPreview* d = Open(command, preview_.get(), holder);
        QSpinBox* spin = Spin(*d, Slot::P0);
        spin->selectAll();
        QTest::keyClicks(spin, "99999999999");
        QVERIFY(spin->value() <= 100);
        spin->selectAll();
        QTest::keyClicks(spin, "abc");
        QVERIFY(spin->value() >= -100 && spin->value() <= 100);
        d->accept();
        QVERIFY(command.m_nParam[0] >= -100 && command.m_nParam[0] <= 100);
    }

    // Posterize and solarize take any value of their digits and bring it into
    // range when the dialog opens, when the preview is computed and on OK.
    void posterizeAndSolarizeAreClamped_data() {
        QTest::addColumn<int>("id");
        QTest::addColumn<int>("stored");  // PARAM_UNSET: never set
        QTest::addColumn<int>("shown");
        QTest::addColumn<int>("typed");
        QTest::addColumn<int>("clamped");
        QTest::newRow("posterize unset, 9 typed") << 516 << PARAM_UNSET << 7 << 9 << 7;
        QTest::newRow("posterize 50 stored, 0 typed") << 516 << 50 << 7 << 0 << 1;
        QTest::newRow("posterize 3 stored, 8 typed") << 516 << 3 << 3 << 8 << 7;
        QTest::newRow("solarize unset, 0 typed") << 517 << PARAM_UNSET << 254 << 0 << 1;
        QTest::newRow("solarize -4 stored, 999 typed") << 517 << -4 << 1 << 999 << 254;
        QTest::newRow("solarize 300 stored, 255 typed") << 517 << 300 << 254 << 255 << 254;
        QTest::newRow("solarize 1 stored, 254 typed") << 517 << 1 << 1 << 254 << 254;
    }
    void posterizeAndSolarizeAreClamped() {
        QFETCH(int, id);
        QFETCH(int, stored);
        QFETCH(int, shown);
        QFETCH(int, typed);
        QFETCH(int, clamped);
        for (const bool throughPreview : {true, false}) {
            CScriptCommand command(id);
            command.m_nParam[0] = stored;
            std::unique_ptr<QDialog> holder;
            DlgWithPreview* d = Open(command, preview_.get(), holder);
            QSignalSpy shownSpy(d, &DlgWithPreview::previewShown);
            QSpinBox* spin = Spin(*d, Slot::P0);
            QCOMPARE(spin->value(), shown);
            QTRY_VERIFY_WITH_TIMEOUT(shownSpy.count() >= 1, 10000);
            spin->setValue(typed);
            QCOMPARE(spin->value(), typed);
            if (throughPreview) {
                QTRY_VERIFY_WITH_TIMEOUT(shownSpy.count() >= 2, 10000);
                QCOMPARE(spin->value(), clamped);
                // The computed picture is that of the clamped value.
                KOwnedHandle thumb;
                KHANDLE copy = nullptr;
                QCOMPARE(CopyDIB(d->beforeImage(), &copy), KERV_OK);
                thumb.reset(copy);
                CScriptCommand expected(id);
                expected.m_nParam[0] = clamped;
                KervErrorCode code = 0;
                QVERIFY(BlockBytes(d->afterImage()) == Expected(expected, thumb.get(), 1, &code));
            }
            d->accept();
            QCOMPARE(command.m_nParam[0], clamped);
        }
    }

    void okChecksRefuseWithTheirMessage_data() {
        QTest::addColumn<int>("id");
        QTest::addColumn<int>("p0");
        QTest::addColumn<int>("p1");
        QTest::addColumn<QString>("message");  // empty: accepted
        const QString range = "Please enter a % Difference value in the range (-100 to -3) or "
                              "the range (3 to 100)";
        const QString nonZero = "You must specify at least one non-zero value";
        QTest::newRow("horizontal perspective 2") << 525 << 2 << 0 << range;
        QTest::newRow("horizontal perspective -2") << 525 << -2 << 0 << range;
        QTest::newRow("horizontal perspective 0") << 525 << 0 << 0 << range;
        QTest::newRow("horizontal perspective 3") << 525 << 3 << 0 << QString();
        QTest::newRow("vertical perspective -3") << 526 << -3 << 0 << QString();
        QTest::newRow("vertical perspective 1") << 526 << 1 << 0 << range;
        QTest::newRow("vertical perspective -100") << 526 << -100 << 0 << QString();
        QTest::newRow("skew both 0") << 549 << 0 << 0 << nonZero;
        QTest::newRow("skew vertical only") << 549 << 0 << -1 << QString();
        QTest::newRow("skew horizontal only") << 549 << 89 << 0 << QString();
    }
    void okChecksRefuseWithTheirMessage() {
        QFETCH(int, id);
        QFETCH(int, p0);
        QFETCH(int, p1);
        QFETCH(QString, message);
        CScriptCommand command(id);
        const std::vector<uint8_t> before = EncodeClipboardRecord(command);
        std::unique_ptr<QDialog> holder;
        DlgWithPreview* d = Open(command, preview_.get(), holder);
        d->open();
        Spin(*d, Slot::P0)->setValue(p0);
        if (id == CMD_SKEW) Spin(*d, Slot::P1)->setValue(p1);
        ModalCatcher catcher;
        catcher.ignore(d);
        QTest::mouseClick(d->findChild<QDialogButtonBox*>("buttons")->button(QDialogButtonBox::Ok),
                          Qt::LeftButton);
        if (message.isEmpty()) {
            QVERIFY(catcher.texts.isEmpty());
            QCOMPARE(d->result(), int(QDialog::Accepted));
            QCOMPARE(command.m_nParam[0], p0);
            return;
        }
        QCOMPARE(catcher.texts, QStringList{message});
        QCOMPARE(catcher.titles, QStringList{"Brellix"});
        QVERIFY(d->isVisible());
        QVERIFY(EncodeClipboardRecord(command) == before);
        // Put right, the same dialog is accepted.
        Spin(*d, Slot::P0)->setValue(id == CMD_SKEW ? 4 : 50);
        d->findChild<QDialogButtonBox*>("buttons")->button(QDialogButtonBox::Ok)->click();
        QCOMPARE(d->result(), int(QDialog::Accepted));
        QCOMPARE(command.m_nParam[0], id == CMD_SKEW ? 4 : 50);
        QCOMPARE(catcher.texts.size(), 1);
    }

    // Every control changed: OK stores exactly the kind's slots with the new
    // values, Cancel stores nothing.
    void okWritesExactlyTheKindsSlotsAndCancelNothing_data() {
        QTest::addColumn<int>("id");
        QTest::addColumn<bool>("ok");
        for (const Kind& k : Kinds()) {
            QTest::newRow(qPrintable(QStringLiteral("%1 OK").arg(k.name))) << int(k.id) << true;
            QTest::newRow(qPrintable(QStringLiteral("%1 Cancel").arg(k.name))) << int(k.id) << false;
        }
    }
    void okWritesExactlyTheKindsSlotsAndCancelNothing() {
        QFETCH(int, id);
        QFETCH(bool, ok);
        CScriptCommand command(id);
        command.m_strParam = {"kept.pal", "kept too"};
        command.m_crColor[1] = RGB(1, 2, 3);
        const CScriptCommand before = command;
        CScriptCommand expected = command;
        std::unique_ptr<QDialog> holder;
        DlgWithPreview* d = Open(command, preview_.get(), holder);
        // The check ties the fields after it, so it goes first.
        std::vector<SlotInfo> kindSlots(FindCommandInfo(id)->slotTable.begin(),
                                    FindCommandInfo(id)->slotTable.end());
        std::stable_partition(kindSlots.begin(), kindSlots.end(), [d](const SlotInfo& s) {
            return qobject_cast<QCheckBox*>(Field(*d, s.slot)) != nullptr;
        });
        for (const SlotInfo& s : kindSlots)
            SetSlot(expected, s.slot, Change(Field(*d, s.slot), s));
        if (ok)
            d->accept();
        else
            d->reject();
        QCOMPARE(d->result(), int(ok ? QDialog::Accepted : QDialog::Rejected));
        QVERIFY(EncodeClipboardRecord(command) == EncodeClipboardRecord(ok ? expected : before));
    }

    // What the "after" pane shows is the dispatcher's result on the
    // thumbnail, when the dialog opens and after a change.
    void afterImageIsTheDispatchersResult_data() {
        QTest::addColumn<int>("id");
        QTest::addColumn<int>("bits");
        for (const Kind& k : Kinds()) {
            QTest::newRow(qPrintable(QStringLiteral("%1, 24 bits").arg(k.name))) << int(k.id) << 24;
            QTest::newRow(qPrintable(QStringLiteral("%1, grey").arg(k.name))) << int(k.id) << 8;
        }
    }
    void afterImageIsTheDispatchersResult() {
        QFETCH(int, id);
        QFETCH(int, bits);
        KOwnedHandle preview(Gradient(300, 220, bits));
        CScriptCommand command(id);
        KervSrand(99);
        std::unique_ptr<QDialog> holder;
        DlgWithPreview* d = Open(command, preview.get(), holder);
        QSignalSpy shown(d, &DlgWithPreview::previewShown);
        QTRY_VERIFY_WITH_TIMEOUT(shown.count() == 1, 10000);
        QCOMPARE(d->previewCode(), KERV_OK);
        KHANDLE copy = nullptr;
        QCOMPARE(CopyDIB(d->beforeImage(), &copy), KERV_OK);
        KOwnedHandle thumb(copy);
        const std::vector<uint8_t> first = BlockBytes(d->afterImage());

        // A change, then the new picture.
        std::vector<SlotInfo> kindSlots(FindCommandInfo(id)->slotTable.begin(),
                                    FindCommandInfo(id)->slotTable.end());
        for (const SlotInfo& s : kindSlots)
            if (qobject_cast<QAbstractSpinBox*>(Field(*d, s.slot))) Far(Field(*d, s.slot), s);
        KervSrand(5);
        QTRY_VERIFY_WITH_TIMEOUT(shown.count() == 2, 10000);
        const std::vector<uint8_t> second = BlockBytes(d->afterImage());
        QCOMPARE(d->previewCode(), KERV_OK);
        d->accept();

        KervErrorCode code = -1;
        CScriptCommand opened(id);
        for (const SlotInfo& s : kindSlots)
            if (s.slot <= Slot::P9) opened.m_nParam[size_t(s.slot)] = IntSlotDefault(id, s.slot);
            else if (s.slot == Slot::F0) opened.m_fParam[0] = FloatSlotDefault(id, s.slot);
        QVERIFY(first == Expected(opened, thumb.get(), 99, &code));
        QCOMPARE(code, KERV_OK);
        QVERIFY(second == Expected(command, thumb.get(), 5, &code));
        QCOMPARE(code, KERV_OK);
        QVERIFY(first != second);
    }

    void aFailingOperationIsShownInTheAfterPane() {
        KOwnedHandle palette(MakeRandomDIB(200, 150, 8, 3));  // colour palette, not grey
        CScriptCommand command(CMD_PINCH);
        std::unique_ptr<QDialog> holder;
        DlgWithPreview* d = Open(command, palette.get(), holder);
        QSignalSpy shown(d, &DlgWithPreview::previewShown);
        QTRY_VERIFY_WITH_TIMEOUT(shown.count() == 1, 10000);
        QCOMPARE(d->previewCode(), KERR_NEEDS_TC_OR_GREY);
        QVERIFY(!d->afterImage());
        QCOMPARE(d->afterPane()->message(),
                 QString("A True Color or Greyscale image is required for this function"));
        QVERIFY(d->afterPane()->picture().isNull());
    }

    void withoutAPreviewImageTheDialogStillEdits() {
        CScriptCommand command(CMD_SOLARIZE);
        std::unique_ptr<QDialog> holder;
        DlgWithPreview* d = Open(command, nullptr, holder);
        QVERIFY(!d->beforeImage());
        QVERIFY(!d->computing());
        QCOMPARE(d->beforePane()->message(), QString("No preview image"));
        Spin(*d, Slot::P0)->setValue(0);
        d->accept();
        QCOMPARE(command.m_nParam[0], 1);
    }

    void colourButtonsAskForTheBackgroundColour_data() {
        QTest::addColumn<int>("id");
        QTest::newRow("horizontal perspective") << 525;
        QTest::newRow("vertical perspective") << 526;
        QTest::newRow("skew") << 549;
    }
    void colourButtonsAskForTheBackgroundColour() {
        QFETCH(int, id);
        CScriptCommand command(id);
        command.m_crColor[0] = RGB(10, 20, 30);
        std::unique_ptr<QDialog> holder;
        DlgWithPreview* d = Open(command, preview_.get(), holder);
        ModalCatcher catcher;
        qobject_cast<ColorButton*>(Field(*d, Slot::C0))->click();
        QCOMPARE(catcher.titles, QStringList{"Select Background Color"});
        // Cancelled: the colour stays.
        QCOMPARE(ValueOf(Field(*d, Slot::C0)), double(RGB(10, 20, 30)));
    }

    void theDirectionPictureAndTheAngleFieldFollowEachOther() {
        CScriptCommand command(CMD_MOTION_BLUR);
        std::unique_ptr<QDialog> holder;
        DlgWithPreview* d = Open(command, preview_.get(), holder);
        auto* picture = d->findChild<DirectionPicture*>("slot_P0_picture");
        QVERIFY(picture);
        QCOMPARE(picture->angle(), 45);
        Spin(*d, Slot::P0)->setValue(300);
        QCOMPARE(picture->angle(), 300);
        d->show();
        const QPoint c(picture->width() / 2, picture->height() / 2);
        struct Click {
            QPoint at;
            int angle;
        };
        for (const Click& k : {Click{c + QPoint(20, 0), 90}, Click{c + QPoint(0, 20), 180},
                               Click{c + QPoint(-20, 0), 270}, Click{c + QPoint(0, -20), 0},
                               Click{c + QPoint(15, -15), 45}}) {
            QTest::mouseClick(picture, Qt::LeftButton, {}, k.at);
            QCOMPARE(picture->angle(), k.angle);
            QCOMPARE(Spin(*d, Slot::P0)->value(), k.angle);
        }
        d->accept();
        QCOMPARE(command.m_nParam[0], 45);
        picture = nullptr;
        DirectionPicture alone;
        alone.setAngle(-90);
        QCOMPARE(alone.angle(), 270);
        alone.setAngle(725);
        QCOMPARE(alone.angle(), 5);
    }

    void theMosaicsSymmetricCheckTiesTheHeightToTheWidth() {
        CScriptCommand command(CMD_MOSAIC);
        std::unique_ptr<QDialog> holder;
        DlgWithPreview* d = Open(command, preview_.get(), holder);
        auto* check = qobject_cast<QCheckBox*>(Field(*d, Slot::P2));
        QVERIFY(check->isChecked());  // the default
        QVERIFY(!Spin(*d, Slot::P1)->isEnabled());
        Spin(*d, Slot::P0)->setValue(9);
        QCOMPARE(Spin(*d, Slot::P1)->value(), 9);
        check->click();
        QVERIFY(Spin(*d, Slot::P1)->isEnabled());
        Spin(*d, Slot::P1)->setValue(4);
        Spin(*d, Slot::P0)->setValue(6);
        QCOMPARE(Spin(*d, Slot::P1)->value(), 4);
        check->click();
        QCOMPARE(Spin(*d, Slot::P1)->value(), 6);
        d->accept();
        QCOMPARE(command.m_nParam[0], 6);
        QCOMPARE(command.m_nParam[1], 6);
        QCOMPARE(command.m_nParam[2], 1);
    }

    // ---- The preview machinery ----

    void theThumbnailIsResampledOrResizedToFit_data() {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("bits");
        QTest::addColumn<bool>("grey");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<bool>("resampled");
        QTest::newRow("24 bits, as wide as the area") << 640 << 480 << 24 << false << QSize(240, 180) << true;
        QTest::newRow("24 bits, tall") << 100 << 400 << 24 << false << QSize(45, 180) << true;
        QTest::newRow("grey, wide") << 1000 << 10 << 8 << true << QSize(240, 2) << true;
        QTest::newRow("small grey is enlarged") << 10 << 5 << 8 << true << QSize(240, 120) << true;
        QTest::newRow("256 colours") << 300 << 300 << 8 << false << QSize(180, 180) << false;
        QTest::newRow("16 colours") << 500 << 200 << 4 << false << QSize(240, 96) << false;
        QTest::newRow("2 colours, thin") << 3 << 1000 << 1 << false << QSize(1, 180) << false;
    }
    void theThumbnailIsResampledOrResizedToFit() {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(int, bits);
        QFETCH(bool, grey);
        QFETCH(QSize, size);
        QFETCH(bool, resampled);
        QCOMPARE(ThumbnailSize(width, height, 240, 180), size);
        KOwnedHandle image(MakeRandomDIB(width, height, bits, 21, grey));
        KHANDLE made = nullptr;
        const KervErrorCode code =
            resampled ? ResampleDIB(nullptr, image.get(), &made, int16_t(size.width()),
                                    uint16_t(size.height()))
                      : ResizeDIB(nullptr, image.get(), &made, size.width(), size.height());
        QCOMPARE(code, KERV_OK);
        KOwnedHandle expected(made);
        GatedDialog d(image.get(), 1);
        QVERIFY(BlockBytes(d.beforeImage()) == BlockBytes(expected.get()));
        QCOMPARE(d.beforePane()->picture().size(), size);
    }

    void aResultComputedBeforeANewerChangeIsDiscarded() {
        GatedDialog d(preview_.get(), 0);
        QSignalSpy shown(&d, &DlgWithPreview::previewShown);
        *d.gate = false;
        d.value = 1;
        d.begin();
        QTRY_COMPARE(d.started->load(), 1);
        d.change(2);  // while the first computation waits
        *d.gate = true;
        QTRY_VERIFY_WITH_TIMEOUT(shown.count() >= 1, 10000);
        QCOMPARE(shown.count(), 1);
        QCOMPARE(d.started->load(), 2);
        QCOMPARE(PixelAt(d.afterImage(), 0, 0), 2u);
        d.reject();
        QVERIFY(!d.afterImage());
        QVERIFY(!d.beforeImage());
    }

    void closingWhileAComputationRunsStopsItAndFreesEverything_data() {
        QTest::addColumn<bool>("ignoresStop");
        QTest::addColumn<bool>("byDestruction");
        QTest::newRow("stops when asked, closed") << false << false;
        QTest::newRow("stops when asked, destroyed") << false << true;
        QTest::newRow("finishes anyway, closed") << true << false;
        QTest::newRow("finishes anyway, destroyed") << true << true;
    }
    void closingWhileAComputationRunsStopsItAndFreesEverything() {
        QFETCH(bool, ignoresStop);
        QFETCH(bool, byDestruction);
        auto d = std::make_unique<GatedDialog>(preview_.get(), 0);
        d->ignoreStop = ignoresStop;
        *d->gate = false;
        d->begin();
        QTRY_COMPARE(d->started->load(), 1);
        QVERIFY(d->computing());
        // One that does not listen is let through while the dialog waits for it.
        std::thread opener;
        if (ignoresStop)
            opener = std::thread([gate = d->gate] {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                *gate = true;
            });
        if (byDestruction) {
            d.reset();
        } else {
            d->reject();
            QVERIFY(!d->computing());
            QVERIFY(!d->afterImage());
            QVERIFY(!d->beforeImage());
            d.reset();
        }
        if (opener.joinable()) opener.join();
        QCoreApplication::processEvents();
        // cleanup() compares the live blocks with those before the test.
    }

    void editParametersShowsTheKindsDialog() {
        CScriptCommand command(CMD_COLORIZE);
        QDialog* seen = nullptr;
        QTimer::singleShot(0, [&seen] {
            seen = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!seen) return;
            seen->findChild<QSpinBox*>("slot_P0")->setValue(200);
            seen->accept();
        });
        const std::unique_ptr<QDialog> dialog = MakeCommandDialog(command, preview_.get(), nullptr);
        QVERIFY(dynamic_cast<DlgWithPreview*>(dialog.get()));
        QCOMPARE(dialog->exec(), int(QDialog::Accepted));
        QVERIFY(seen);
        QCOMPARE(command.m_nParam[0], 200);
        QCOMPARE(command.m_nParam[1], 0);
    }

  private:
    std::unique_ptr<QTemporaryDir> dir_;
    size_t blocks_ = 0;
    KOwnedHandle preview_;
};

QTEST_MAIN(PreviewDialogsTest)
#include "preview_dialogs_test.moc"
