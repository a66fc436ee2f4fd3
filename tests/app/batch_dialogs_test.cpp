// The batch input dialog, the output dialog and the format options pages,
// driven through their widgets.
#include "app/batch/batch_input_dialog.h"
#include "app/batch/batch_output_dialog.h"
#include "app/batch/batch_texts.h"
#include "app/batch/format_options_page.h"
#include "core/settings.h"
#include "formats/format_table.h"
#include "tests/app/batch_test_util.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QtTest>

using namespace batchtest;

namespace {

template <class T> T* Child(QWidget* w, const char* name) {
    return w->findChild<T*>(QLatin1String(name));
}

// The chooser's own accept button ("Next").
QPushButton* NextButton(CBatchInputDlg& dialog) {
    auto* box = dialog.fileChooser()->findChild<QDialogButtonBox*>();
    return box ? qobject_cast<QPushButton*>(box->button(QDialogButtonBox::Open)) : nullptr;
}

QStringList ComboTexts(QComboBox* c) {
    QStringList t;
    for (int i = 0; i < c->count(); ++i)
        t << c->itemText(i);
    return t;
}

void SelectFormat(CBatchOutputDlg& dialog, int id) {
    auto* type = Child<QComboBox>(&dialog, "outputType");
    type->setCurrentIndex(type->findData(id));
}

} // namespace

class BatchDialogsTest : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> dir_;
    QString path(const QString& name) const { return dir_->path() + QLatin1Char('/') + name; }

  private slots:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        FreshSettings(*dir_);
    }
    void cleanup() { dir_.reset(); }

    // ---- helpers ----

    void dialogFilters_data() {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QStringList>("qt");
        QTest::addColumn<QStringList>("extensions");
        QTest::newRow("all files and one format")
            << "All Files|*.*|BMP - Windows Bitmap|*.bmp|"
            << QStringList{"All Files (*)", "BMP - Windows Bitmap (*.bmp)"}
            << QStringList{"", "bmp"};
        QTest::newRow("closing empty pair")
            << "Log - Kerv Log File|*.log||" << QStringList{"Log - Kerv Log File (*.log)"}
            << QStringList{"log"};
        QTest::newRow("two patterns have no single extension")
            << "Images|*.png;*.jpg|" << QStringList{"Images (*.png;*.jpg)"} << QStringList{""};
        QTest::newRow("empty") << "" << QStringList{} << QStringList{};
    }
    void dialogFilters() {
        QFETCH(QString, filter);
        QFETCH(QStringList, qt);
        QFETCH(QStringList, extensions);
        const DialogFilter f = ParseDialogFilter(filter.toStdString());
        QCOMPARE(f.qtFilters, qt);
        QStringList exts;
        for (const std::string& e : f.extensions)
            exts << QString::fromStdString(e);
        QCOMPARE(exts, extensions);
    }

    void elision_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("room"); // characters that fit
        QTest::addColumn<QString>("shown");
        QTest::newRow("fits") << "/home/ann/photos" << 16 << "/home/ann/photos";
        QTest::newRow("cut to fit") << "/home/ann/photos" << 10 << "/home/a...";
        QTest::newRow("one over") << "/home/ann/photos" << 15 << "/home/ann/ph...";
        QTest::newRow("never below three characters") << "/home/ann/photos" << 2 << "/ho...";
        QTest::newRow("short text too wide") << "abcd" << 3 << "abc...";
    }
    void elision() {
        QFETCH(QString, text);
        QFETCH(int, room);
        QFETCH(QString, shown);
        QCOMPARE(ElideFolderText(text, [room](const QString& t) { return t.size() <= room; }),
                 shown);
    }

    // ---- input dialog ----

    void inputDialogStartsFromItsValues() {
        InputDialogStart start;
        start.folder = dir_->path().toStdString();
        start.filterIndex = 2;
        start.showErrors = true;
        start.scriptHasOutput = false;
        CBatchInputDlg dialog(start);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Batch Process Input Files"));
        QCOMPARE(QFileInfo(dialog.fileChooser()->directory().absolutePath()),
                 QFileInfo(dir_->path()));
        const QStringList filters = dialog.fileChooser()->nameFilters();
        QCOMPARE(filters.first(), QStringLiteral("All Files (*)"));
        QCOMPARE(dialog.fileChooser()->selectedNameFilter(), filters.at(2));
        QVERIFY(Child<QCheckBox>(&dialog, "interruptOnErrors")->isChecked());
        QVERIFY(!Child<QCheckBox>(&dialog, "useScriptOutput")->isEnabled());
        QVERIFY(NextButton(dialog));
        QCOMPARE(NextButton(dialog)->text(), QStringLiteral("Next"));
        QCOMPARE(Child<QPushButton>(&dialog, "selectAll")->text(), QStringLiteral("Select &All"));

        start.scriptHasOutput = true;
        CBatchInputDlg withOutput(start);
        QVERIFY(Child<QCheckBox>(&withOutput, "useScriptOutput")->isEnabled());
        QVERIFY(Child<QCheckBox>(&withOutput, "useScriptOutput")->isChecked());
    }

    void inputDialogMissingFolderStartsAtHome() {
        InputDialogStart start;
        start.folder = path("gone").toStdString();
        CBatchInputDlg dialog(start);
        QCOMPARE(QFileInfo(dialog.fileChooser()->directory().absolutePath()),
                 QFileInfo(QString::fromStdString(HomeFolder())));
    }

    void selectAllPatterns_data() {
        QTest::addColumn<int>("filter");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("folder"); // relative to the test folder
        QTest::addColumn<QString>("pattern");
        QTest::newRow("all files") << 0 << ""
                                   << ""
                                   << "*.*";
        QTest::newRow("typed name") << 0 << "img_??.*"
                                    << ""
                                    << "img_??.*";
        QTest::newRow("typed name with a folder") << 0 << "sub/*.png"
                                                  << "sub"
                                                  << "*.png";
        QTest::newRow("one picked name in quotes") << 0 << "\"a b.png\""
                                                   << ""
                                                   << "a b.png";
        QTest::newRow("several picked names are no name") << 0 << "\"a.png\" \"b.png\""
                                                          << ""
                                                          << "*.*";
    }
    void selectAllPatterns() {
        QFETCH(int, filter);
        QFETCH(QString, typed);
        QFETCH(QString, folder);
        QFETCH(QString, pattern);
        InputDialogStart start;
        start.folder = dir_->path().toStdString();
        start.filterIndex = filter;
        CBatchInputDlg dialog(start);
        dialog.show();
        Child<QLineEdit>(dialog.fileChooser(), "fileNameEdit")->setText(typed);
        Child<QCheckBox>(&dialog, "interruptOnErrors")->setChecked(true);
        QVERIFY(Click(&dialog, QStringLiteral("selectAll")));
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        const InputChoice& c = dialog.choice();
        QCOMPARE(QString::fromStdString(c.pattern), pattern);
        QCOMPARE(QDir::cleanPath(QString::fromStdString(c.folder)),
                 QDir::cleanPath(folder.isEmpty() ? dir_->path() : path(folder)));
        QVERIFY(c.names.empty());
        QVERIFY(c.showErrors);
        QVERIFY(!c.useScriptOutput);
    }

    // A chosen file type gives its extension's pattern.
    void selectAllTakesTheChosenFilter() {
        InputDialogStart start;
        start.folder = dir_->path().toStdString();
        CBatchInputDlg dialog(start);
        const QStringList filters = dialog.fileChooser()->nameFilters();
        const int tif = static_cast<int>(filters.indexOf(QRegularExpression("^TIF - .*")));
        QVERIFY(tif > 0);
        dialog.fileChooser()->selectNameFilter(filters.at(tif));
        QVERIFY(Click(&dialog, QStringLiteral("selectAll")));
        QCOMPARE(QString::fromStdString(dialog.choice().pattern), QStringLiteral("*.tif"));
        QCOMPARE(dialog.choice().filterIndex, tif);
    }

    void pickedFilesAreNamesInTheirFolder() {
        for (const char* n : {"one.png", "two words.png", "three.png"}) {
            QFile f(path(QLatin1String(n)));
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        InputDialogStart start;
        start.folder = dir_->path().toStdString();
        start.scriptHasOutput = true;
        CBatchInputDlg dialog(start);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        // As a user picks two of them: their names, quoted, in the name field.
        Child<QLineEdit>(dialog.fileChooser(), "fileNameEdit")
            ->setText(QStringLiteral("\"one.png\" \"two words.png\""));
        Child<QCheckBox>(&dialog, "useScriptOutput")->setChecked(false);
        QTRY_VERIFY(NextButton(dialog)->isEnabled());
        NextButton(dialog)->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        const InputChoice& c = dialog.choice();
        QCOMPARE(QFileInfo(QString::fromStdString(c.folder)), QFileInfo(dir_->path()));
        QStringList names;
        for (const std::string& n : c.names)
            names << QString::fromStdString(n);
        names.sort();
        QCOMPARE(names, (QStringList{"one.png", "two words.png"}));
        QVERIFY(c.pattern.empty());
        QVERIFY(!c.showErrors);
        QVERIFY(!c.useScriptOutput);
    }

    // A name typed with another folder stays reachable from the first name's.
    void pickedFilesFromTwoFolders() {
        QDir().mkpath(path("sub"));
        for (const char* n : {"one.png", "sub/x.png"}) {
            QFile f(path(QLatin1String(n)));
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        InputDialogStart start;
        start.folder = dir_->path().toStdString();
        CBatchInputDlg dialog(start);
        dialog.show();
        Child<QLineEdit>(dialog.fileChooser(), "fileNameEdit")
            ->setText("\"one.png\" \"" + path("sub/x.png") + "\"");
        QTRY_VERIFY(NextButton(dialog)->isEnabled());
        NextButton(dialog)->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        const InputChoice& c = dialog.choice();
        QCOMPARE(QFileInfo(QString::fromStdString(c.folder)), QFileInfo(dir_->path()));
        QStringList names;
        for (const std::string& n : c.names)
            names << QString::fromStdString(n);
        names.sort();
        QCOMPARE(names, (QStringList{"one.png", "sub/x.png"}));
    }

    void cancelledInputDialogIsRejected() {
        InputDialogStart start;
        start.folder = dir_->path().toStdString();
        CBatchInputDlg dialog(start);
        dialog.show();
        auto* box = dialog.fileChooser()->findChild<QDialogButtonBox*>();
        QVERIFY(box);
        box->button(QDialogButtonBox::Cancel)->click();
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QVERIFY(!dialog.isVisible());
    }

    // ---- output dialog ----

    void outputTypesAreSortedByExtension() {
        OutputSettings start;
        start.id = 10;
        start.subType = 1;
        start.folder = dir_->path().toStdString();
        CBatchOutputDlg dialog(start, AppSettings());
        auto* type = Child<QComboBox>(&dialog, "outputType");
        QCOMPARE(type->count(), 34);
        QStringList extensions;
        for (int i = 0; i < type->count(); ++i) {
            const OutputFormatEntry* f = FindOutputFormat(type->itemData(i).toInt());
            QVERIFY(f);
            QVERIFY(type->itemText(i).startsWith(QString::fromLatin1(f->ext).toUpper() + " - "));
            extensions << QString::fromLatin1(f->ext);
        }
        QStringList sorted = extensions;
        sorted.sort(Qt::CaseInsensitive);
        QCOMPARE(extensions, sorted);
        QCOMPARE(type->currentText(), QStringLiteral("JPG - JPEG"));
        auto* sub = Child<QComboBox>(&dialog, "subType");
        QCOMPARE(ComboTexts(sub), (QStringList{"Standard Encoding", "Progressive Encoding"}));
        QCOMPARE(sub->currentIndex(), 1);
    }

    void changingTheTypeSelectsItsRememberedSubType_data() {
        QTest::addColumn<int>("id");
        QTest::addColumn<int>("stored"); // -1: nothing stored
        QTest::addColumn<int>("selected");
        QTest::addColumn<int>("count");
        QTest::newRow("GIF default") << 6 << -1 << 3 << 4;
        QTest::newRow("GIF stored 9 is the last") << 6 << 9 << 3 << 4;
        QTest::newRow("GIF stored 1") << 6 << 1 << 1 << 4;
        QTest::newRow("TGA default") << 24 << -1 << 4 << 6;
        QTest::newRow("TIF stored 0") << 25 << 0 << 0 << 5;
        QTest::newRow("no sub-types") << 21 << -1 << 0 << 1;
    }
    void changingTheTypeSelectsItsRememberedSubType() {
        QFETCH(int, id);
        QFETCH(int, stored);
        QFETCH(int, selected);
        QFETCH(int, count);
        if (stored >= 0) StoreSubType(&AppSettings(), id, stored);
        OutputSettings start;
        start.id = 19;
        start.folder = dir_->path().toStdString();
        CBatchOutputDlg dialog(start, AppSettings());
        SelectFormat(dialog, id);
        auto* sub = Child<QComboBox>(&dialog, "subType");
        QCOMPARE(sub->count(), count);
        QCOMPARE(sub->currentIndex(), selected);
        if (FindOutputFormat(id)->subTypeCount == 0) QCOMPARE(sub->currentText(), "None");
        QCOMPARE(dialog.settings().subType, selected);
    }

    // Options only where the format has a page; Finish only where Brellix writes.
    void enablingFollowsTheFormat() {
        OutputSettings start;
        start.folder = dir_->path().toStdString();
        CBatchOutputDlg dialog(start, AppSettings());
        dialog.show();
        for (const OutputFormatEntry& f : OutputFormats()) {
            SelectFormat(dialog, f.id);
            const QString what = QString::fromLatin1(f.ext);
            QVERIFY2(Child<QPushButton>(&dialog, "formatOptions")->isEnabled() ==
                         (f.page != OptionsPage::None),
                     qPrintable(what));
            const bool writable = IsOutputFormatWritable(f.id);
            QVERIFY2(Child<QPushButton>(&dialog, "finish")->isEnabled() == writable,
                     qPrintable(what));
            QVERIFY2(Child<QLabel>(&dialog, "notWritable")->isVisible() == !writable,
                     qPrintable(what));
            if (!writable)
                QVERIFY(Child<QLabel>(&dialog, "notWritable")->text().contains(what.toUpper()));
        }
    }

    void finishMakesTheMissingFolder() {
        OutputSettings start;
        start.id = 19;
        start.folder = path("new/deeper").toStdString();
        CBatchOutputDlg dialog(start, AppSettings());
        dialog.show();
        QVERIFY(Click(&dialog, QStringLiteral("finish")));
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY(QFileInfo(path("new/deeper")).isDir());
        const OutputSettings s = dialog.settings();
        QCOMPARE(s.id, 19);
        QCOMPARE(QString::fromStdString(s.folder), path("new/deeper"));
    }

    void folderThatCannotBeMadeIsReportedAndTheDialogStays() {
        QFile file(path("plain"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        OutputSettings start;
        start.id = 19;
        start.folder = path("plain/below").toStdString();
        CBatchOutputDlg dialog(start, AppSettings());
        dialog.show();
        QString message;
        auto answered = WhenShown(QStringLiteral("outputFolderError"), [&](QWidget* w) {
            message = static_cast<QMessageBox*>(w)->text();
            static_cast<QMessageBox*>(w)->accept();
        });
        QVERIFY(Click(&dialog, QStringLiteral("finish")));
        QVERIFY(answered->ran);
        QVERIFY2(message.startsWith("The output folder '" + path("plain/below") +
                                    "' could not be created because "),
                 qPrintable(message));
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Rejected));

        Child<QLineEdit>(&dialog, "outputFolderEdit")->setText(path("fine"));
        QVERIFY(Click(&dialog, QStringLiteral("finish")));
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(QString::fromStdString(dialog.settings().folder), path("fine"));
    }

    void folderFieldNames_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("folder");
        const QString home = QString::fromStdString(HomeFolder());
        QTest::newRow("trailing slash dropped") << "/tmp/x/"
                                                << "/tmp/x";
        QTest::newRow("tilde") << "~/pictures" << home + "/pictures";
        QTest::newRow("relative to home") << "pictures/out" << home + "/pictures/out";
        QTest::newRow("dots cleaned") << "/tmp/a/../b"
                                      << "/tmp/b";
        QTest::newRow("root") << "/"
                              << "";
        QTest::newRow("empty is home") << "" << home;
    }
    void folderFieldNames() {
        QFETCH(QString, typed);
        QFETCH(QString, folder);
        OutputSettings start;
        CBatchOutputDlg dialog(start, AppSettings());
        Child<QLineEdit>(&dialog, "outputFolderEdit")->setText(typed);
        QCOMPARE(QString::fromStdString(dialog.settings().folder), folder);
        QCOMPARE(Child<ElidedFolderLabel>(&dialog, "outputFolder")->folder(),
                 folder.isEmpty() ? QStringLiteral("/") : folder);
    }

    void retainingTheInputFolderNeedsNoOutputFolder() {
        QFile file(path("plain"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        OutputSettings start;
        start.id = 19;
        start.folder = path("plain/below").toStdString();
        CBatchOutputDlg dialog(start, AppSettings());
        dialog.show();
        auto* retain = Child<QCheckBox>(&dialog, "retainDirectory");
        QVERIFY(!retain->isChecked());
        retain->setChecked(true);
        QVERIFY(!Child<QLineEdit>(&dialog, "outputFolderEdit")->isEnabled());
        QVERIFY(!Child<QPushButton>(&dialog, "browseFolder")->isEnabled());
        QVERIFY(Click(&dialog, QStringLiteral("finish")));
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY(dialog.settings().retainDirectory);
    }

    void optionsPageChangesTheDetailsOnlyOnOk() {
        OutputSettings start;
        start.id = 10;
        start.folder = dir_->path().toStdString();
        CBatchOutputDlg dialog(start, AppSettings());
        dialog.show();
        WhenShown(QStringLiteral("formatOptionsPage"), [](QWidget* page) {
            Child<QSpinBox>(page, "compression")->setValue(64);
            Click(page, QStringLiteral("cancel"));
        });
        QVERIFY(Click(&dialog, QStringLiteral("formatOptions")));
        QCOMPARE(dialog.settings().options.compression, 15);
        WhenShown(QStringLiteral("formatOptionsPage"), [](QWidget* page) {
            Child<QSpinBox>(page, "compression")->setValue(64);
            Child<QRadioButton>(page, "maintainDpi")->setChecked(true);
            Click(page, QStringLiteral("ok"));
        });
        QVERIFY(Click(&dialog, QStringLiteral("formatOptions")));
        QCOMPARE(dialog.settings().options.compression, 64);
        QCOMPARE(dialog.settings().options.maintainDPI, 1);
        QCOMPARE(dialog.settings().options.dpi, 300);
    }

    // ---- options pages ----

    void pagesHoldTheirKindsControls_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QStringList>("present");
        QTest::addColumn<QStringList>("absent");
        const QStringList all{"compression",      "dpi",  "transparencyKeep",
                              "transparentIndex", "qzm5", "rgb"};
        auto row = [&](const char* name, OptionsPage k, QStringList present) {
            QStringList absent;
            for (const QString& n : all)
                if (!present.contains(n)) absent << n;
            QTest::newRow(name) << int(k) << present << absent;
        };
        row("JPG", OptionsPage::CompressionAndResolution, {"compression", "dpi"});
        row("PCX", OptionsPage::Resolution, {"dpi"});
        row("GIF", OptionsPage::Transparency, {"transparencyKeep", "transparentIndex"});
        row("FPX", OptionsPage::Compression, {"compression"});
        row("QZM", OptionsPage::QzmVersionAndResolution, {"qzm5", "dpi"});
        row("TIF", OptionsPage::ChannelsAndResolution, {"rgb", "dpi"});
    }
    void pagesHoldTheirKindsControls() {
        QFETCH(int, kind);
        QFETCH(QStringList, present);
        QFETCH(QStringList, absent);
        FormatOptionsPage page(static_cast<OptionsPage>(kind), OutputOptions{});
        QCOMPARE(page.windowTitle(), QStringLiteral("Format Settings"));
        for (const QString& n : present)
            QVERIFY2(page.findChild<QWidget*>(n), qPrintable(n));
        for (const QString& n : absent)
            QVERIFY2(!page.findChild<QWidget*>(n), qPrintable(n));
        QVERIFY(page.findChild<QPushButton*>("help"));
        QCOMPARE(PageHasResolution(static_cast<OptionsPage>(kind)), present.contains("dpi"));
    }

    void dpiFieldFollowsTheResolutionChoice() {
        OutputOptions o;
        o.maintainDPI = 1;
        o.dpi = 96;
        FormatOptionsPage page(OptionsPage::Resolution, o);
        auto* dpi = Child<QSpinBox>(&page, "dpi");
        QVERIFY(!dpi->isEnabled());
        QCOMPARE(dpi->value(), 96);
        QCOMPARE(dpi->minimum(), 1);
        QCOMPARE(dpi->maximum(), 2400);
        Child<QRadioButton>(&page, "setDpi")->setChecked(true);
        QVERIFY(dpi->isEnabled());
        dpi->setValue(720);
        page.accept();
        QCOMPARE(page.options().maintainDPI, 0);
        QCOMPARE(page.options().dpi, 720);
    }

    void radioChoicesAreStoredWithTheirValues_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("radio");
        QTest::addColumn<int>("qzm");
        QTest::addColumn<int>("planes");
        QTest::addColumn<int>("transparency");
        QTest::newRow("QZM 5") << int(OptionsPage::QzmVersionAndResolution) << "qzm5" << 1 << 1
                               << 1;
        QTest::newRow("QZM 6") << int(OptionsPage::QzmVersionAndResolution) << "qzm6" << 0 << 1
                               << 1;
        QTest::newRow("QZM 7") << int(OptionsPage::QzmVersionAndResolution) << "qzm7" << 2 << 1
                               << 1;
        QTest::newRow("CMYK") << int(OptionsPage::ChannelsAndResolution) << "cmyk" << 1 << 2 << 1;
        QTest::newRow("RGB") << int(OptionsPage::ChannelsAndResolution) << "rgb" << 1 << 1 << 1;
        QTest::newRow("keep") << int(OptionsPage::Transparency) << "transparencyKeep" << 1 << 1
                              << 0;
        QTest::newRow("colour") << int(OptionsPage::Transparency) << "transparencyColour" << 1 << 1
                                << 2;
        QTest::newRow("entry") << int(OptionsPage::Transparency) << "transparencyIndex" << 1 << 1
                               << 3;
    }
    void radioChoicesAreStoredWithTheirValues() {
        QFETCH(int, kind);
        QFETCH(QString, radio);
        QFETCH(int, qzm);
        QFETCH(int, planes);
        QFETCH(int, transparency);
        OutputOptions start; // QZM 5, RGB, no transparency
        start.qzmVersion = 1;
        start.planeEncoding = 1;
        start.transparencyType = 1;
        FormatOptionsPage page(static_cast<OptionsPage>(kind), start);
        page.show();
        auto* r = page.findChild<QRadioButton*>(radio);
        QVERIFY(r);
        r->click();
        QVERIFY(Click(&page, QStringLiteral("ok")));
        QCOMPARE(page.result(), int(QDialog::Accepted));
        QCOMPARE(page.options().qzmVersion, qzm);
        QCOMPARE(page.options().planeEncoding, planes);
        QCOMPARE(page.options().transparencyType, transparency);
    }

    void transparencyControlsFollowTheChoice() {
        OutputOptions o;
        o.transparencyType = 3;
        o.transparencyIndex = 200;
        FormatOptionsPage page(OptionsPage::Transparency, o);
        QVERIFY(Child<QRadioButton>(&page, "transparencyIndex")->isChecked());
        QVERIFY(Child<QSpinBox>(&page, "transparentIndex")->isEnabled());
        QCOMPARE(Child<QSpinBox>(&page, "transparentIndex")->value(), 200);
        QCOMPARE(Child<QSpinBox>(&page, "transparentIndex")->maximum(), 255);
        QVERIFY(!Child<QPushButton>(&page, "transparentColour")->isEnabled());
        Child<QRadioButton>(&page, "transparencyColour")->setChecked(true);
        QVERIFY(Child<QPushButton>(&page, "transparentColour")->isEnabled());
        QVERIFY(!Child<QSpinBox>(&page, "transparentIndex")->isEnabled());
    }

    void colourChooserSetsTheColourAndKeepsCustomColours() {
        OutputOptions o;
        o.transparencyType = 2;
        o.transparentColor = 0x00FFFFFF;
        FormatOptionsPage page(OptionsPage::Transparency, o);
        page.show();
        WhenShown(QStringLiteral("transparentColourDialog"), [](QWidget* w) {
            auto* chooser = static_cast<QColorDialog*>(w);
            QColorDialog::setCustomColor(0, QColor(1, 2, 3));
            chooser->setCurrentColor(QColor(0x12, 0x34, 0x56));
            chooser->accept();
        });
        QVERIFY(Click(&page, QStringLiteral("transparentColour")));
        QVERIFY(Click(&page, QStringLiteral("ok")));
        // COLORREF: red in the low byte.
        QCOMPARE(page.options().transparentColor, COLORREF(0x563412));
        const std::vector<uint8_t> stored = AppSettings().Get(setting::ColorRefs);
        QCOMPARE(int(stored.size()), 64);
        QCOMPARE(int(stored[0]), 1);
        QCOMPARE(int(stored[1]), 2);
        QCOMPARE(int(stored[2]), 3);
        QCOMPARE(int(stored[3]), 0);
    }

    void fieldWithoutAValueIsRefused() {
        FormatOptionsPage page(OptionsPage::CompressionAndResolution, OutputOptions{});
        page.show();
        auto* compression = Child<QSpinBox>(&page, "compression");
        compression->findChild<QLineEdit*>()->clear();
        QVERIFY(!compression->hasAcceptableInput());
        QString message;
        auto answered = WhenShown(QStringLiteral("rangeError"), [&](QWidget* w) {
            if (auto* box = qobject_cast<QMessageBox*>(w)) {
                message = box->text();
                box->accept();
            }
        });
        QVERIFY(Click(&page, QStringLiteral("ok")));
        QVERIFY(answered->ran);
        QCOMPARE(message, QStringLiteral("Please enter an integer between 1 and 99."));
        QVERIFY(page.isVisible());
        QCOMPARE(page.options().compression, 15);
    }
};

QTEST_MAIN(BatchDialogsTest)
#include "batch_dialogs_test.moc"
