// Whole batch runs from the desktop program: through the dialogs, from a
// script's "Set Input Options", and from the command line, over copies of
// the sample images, answered the way a user would.
#include "app/batch/batch_controller.h"
#include "app/batch/batch_input_dialog.h"
#include "app/batch/batch_output_dialog.h"
#include "app/batch/progress_window.h"
#include "script/commands.h"
#include "script/script.h"
#include "batch/cmdline.h"
#include "core/kmem.h"
#include "core/settings.h"
#include "formats/imagefile.h"
#include "imaging/depth.h"
#include "tests/app/batch_test_util.h"
#include "tests/support/test_support.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

using namespace batchtest;

namespace {

constexpr int kBMP = 1, kGIF = 6, kPNG = 19, kTIF = 25;

template <class T> T* Child(QWidget* w, const char* name) {
    return w->findChild<T*>(QLatin1String(name));
}

// The image of a file, raised to 24 bits; null when it cannot be read.
KOwnedHandle ReadTrueColour(const QString& path) {
    KHANDLE dib = nullptr;
    int format = 0;
    if (ReadImageFile(path.toStdString(), &format, &dib, nullptr, nullptr) != KERV_OK) return {};
    KOwnedHandle owned(dib);
    uint16_t w = 0, h = 0, bits = 0;
    uint32_t grey = 0;
    GetDIBStats(dib, &w, &h, &bits, &grey);
    if (bits == 24) return owned;
    KHANDLE raised = nullptr;
    if (IncreaseDepthDIB(nullptr, dib, &raised, 24) != KERV_OK) return {};
    return KOwnedHandle(raised);
}

// out is in mirrored left to right, pixel by pixel.
bool IsMirrorOf(const QString& out, const QString& in) {
    KOwnedHandle a = ReadTrueColour(out), b = ReadTrueColour(in);
    if (!a || !b) return false;
    uint16_t aw = 0, ah = 0, bw = 0, bh = 0, bits = 0;
    uint32_t grey = 0;
    GetDIBStats(a.get(), &aw, &ah, &bits, &grey);
    GetDIBStats(b.get(), &bw, &bh, &bits, &grey);
    if (aw != bw || ah != bh) return false;
    for (int y = 0; y < ah; ++y)
        for (int x = 0; x < aw; ++x)
            if (brellix::test::PixelAt(a.get(), x, y) !=
                brellix::test::PixelAt(b.get(), aw - 1 - x, y))
                return false;
    return true;
}

QString WithExtension(const QString& name, const QString& ext) {
    return QFileInfo(name).completeBaseName() + QLatin1Char('.') + ext;
}

} // namespace

class BatchControllerTest : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<QWidget> main_;
    BatchController* controller_ = nullptr;
    QString in_, out_;
    QStringList inputs_;
    size_t blocksAtStart_ = 0;
    QByteArray oldTmp_;

    QString path(const QString& name) const { return dir_->path() + QLatin1Char('/') + name; }

    // "Change to 16.7 Mil colors", "Mirror Image" and, when outputId is not
    // 0, "Set Output Options" into out_.
    void Build(CScript& script, int outputId, int subType = 0) {
        script.InsertCommand(std::make_unique<CScriptCommand>(CMD_TO_TRUE_COLOR), -1);
        script.InsertCommand(std::make_unique<CScriptCommand>(CMD_MIRROR), -1);
        if (!outputId) return;
        auto o = std::make_unique<CScriptCommand>(CMD_SET_OUTPUT_OPTIONS);
        o->m_nParam[0] = outputId - 1;
        o->m_nParam[1] = subType;
        o->m_nParam[4] = 1 << 8;
        o->m_strParam[0] = out_.toStdString();
        script.InsertCommand(std::move(o), -1);
    }

    // Answers the input dialog with "Select All" in folder.
    std::shared_ptr<Pending> SelectAllIn(const QString& folder, bool showErrors,
                                         bool useScript = false) {
        return WhenShown("batchInputDialog", [=](QWidget* w) {
            auto* d = static_cast<CBatchInputDlg*>(w);
            d->fileChooser()->setDirectory(folder);
            Child<QCheckBox>(d, "interruptOnErrors")->setChecked(showErrors);
            Child<QCheckBox>(d, "useScriptOutput")->setChecked(useScript);
            Click(d, "selectAll");
        });
    }
    // Answers the output dialog with a format and folder.
    std::shared_ptr<Pending> OutputAs(int id, const QString& folder, int subType = -1) {
        return WhenShown("batchOutputDialog", [=](QWidget* w) {
            auto* type = Child<QComboBox>(w, "outputType");
            type->setCurrentIndex(type->findData(id));
            if (subType >= 0) Child<QComboBox>(w, "subType")->setCurrentIndex(subType);
            Child<QLineEdit>(w, "outputFolderEdit")->setText(folder);
            Click(w, "finish");
        });
    }

    BatchProgressWindow* Progress() const { return main_->findChild<BatchProgressWindow*>(); }
    bool WaitForTheEnd() {
        return QTest::qWaitFor([&] { return Progress() && Progress()->runFinished(); }, 60000);
    }
    bool CloseAndWait() {
        if (!Click(Progress(), "ok")) return false;
        return QTest::qWaitFor([&] { return !controller_->running(); }, 20000);
    }
    QStringList Log() const { return Progress() ? Progress()->logLines() : QStringList(); }
    static int Count(const QStringList& lines, const QString& line) {
        return static_cast<int>(lines.count(line));
    }
    static int CountStarting(const QStringList& lines, const QString& start) {
        int n = 0;
        for (const QString& l : lines)
            n += l.startsWith(start);
        return n;
    }
    QStringList Outputs() const {
        return QDir(out_).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }
    QStringList Temporaries() const { return QDir(path("tmp")).entryList(QDir::Files); }
    // Keeps only these samples in in_.
    void KeepInputs(const QStringList& names) {
        for (const QString& n : QDir(in_).entryList(QDir::Files))
            if (!names.contains(n)) QFile::remove(in_ + QLatin1Char('/') + n);
        inputs_ = QDir(in_).entryList(QDir::Files, QDir::Name);
    }

  private slots:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        FreshSettings(*dir_);
        oldTmp_ = qgetenv("TMPDIR");
        QDir().mkpath(path("tmp"));
        qputenv("TMPDIR", path("tmp").toLocal8Bit());
        in_ = path("in");
        out_ = path("out");
        QCOMPARE(CopySamples(in_), 9);
        inputs_ = QDir(in_).entryList(QDir::Files, QDir::Name);
        main_ = std::make_unique<QWidget>();
        main_->setWindowTitle("Brellix - test.ksc");
        main_->resize(400, 300);
        main_->show();
        controller_ = new BatchController(main_.get());
        blocksAtStart_ = KML_LiveBlockCount();
    }
    void cleanup() {
        main_.reset();
        QCOMPARE(KML_LiveBlockCount(), blocksAtStart_);
        qputenv("TMPDIR", oldTmp_);
        dir_.reset();
    }

    void runThroughTheDialogs() {
        CScript script;
        Build(script, 0);
        QSignalSpy running(controller_, &BatchController::runningChanged);
        QSignalSpy status(controller_, &BatchController::mainStatusChanged);
        QSignalSpy lines(controller_, &BatchController::scriptLineSelected);
        QSignalSpy finished(controller_, &BatchController::finished);
        auto input = SelectAllIn(in_, false);
        auto output = OutputAs(kPNG, out_);
        QVERIFY(controller_->start(script, path("test.ksc")));
        QVERIFY(input->ran);
        QVERIFY(output->ran);
        QVERIFY(controller_->running());
        QVERIFY(WaitForTheEnd());
        QVERIFY(Progress()->isVisible());
        const QStringList log = Log();
        QCOMPARE(log.last(), QStringLiteral("9  File(s) successfully converted."));
        QCOMPARE(log.at(log.size() - 2), QStringLiteral("Batch processing complete."));
        QCOMPARE(Progress()->windowTitle(), log.last());
        QCOMPARE(Child<QLabel>(Progress(), "fileCounter")->text(),
                 QStringLiteral("Batch Processing Complete"));
        for (const QString& name : inputs_) {
            QCOMPARE(Count(log, "Reading " + in_ + "/" + name), 1);
            const QString made = out_ + "/" + WithExtension(name, "png");
            QCOMPARE(Count(log, "Saving " + made), 1);
            QVERIFY2(IsMirrorOf(made, in_ + "/" + name), qPrintable(name));
        }
        QCOMPARE(Outputs().size(), 9);
        QCOMPARE(Count(log, "Executing Script Line 2 of 2"), 9);
        // Saved after every file: the whole run, CR LF.
        const QByteArray current = ReadAll(path("state/brellix/CURRENT.LOG"));
        QCOMPARE(current, (log.join("\r\n") + "\r\n").toUtf8());

        QVERIFY(controller_->running()); // until OK
        QVERIFY(CloseAndWait());
        QCOMPARE(finished.count(), 1);
        QCOMPARE(running.count(), 2);
        QCOMPARE(running.at(0).at(0).toBool(), true);
        QCOMPARE(running.at(1).at(0).toBool(), false);
        QCOMPARE(status.first().at(0).toString(), QStringLiteral("Running Batch Process"));
        QCOMPARE(status.at(status.size() - 2).at(0).toString(),
                 QStringLiteral("Batch Process Complete"));
        QCOMPARE(status.last().at(0).toString(), QStringLiteral("Ready"));
        QCOMPARE(lines.count(), 18);
        QCOMPARE(lines.at(1).at(0).toInt(), 1);
        QTRY_VERIFY(!Progress());
        QVERIFY(Temporaries().isEmpty());
    }

    void overwriteAnswers_data() {
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<QList<bool>>("replaced");
        QTest::addColumn<bool>("aborted");
        QTest::newRow("Yes, No, Yes")
            << QStringList{"yes", "no", "yes"} << QList<bool>{true, false, true} << false;
        QTest::newRow("Yes All") << QStringList{"yesAll"} << QList<bool>{true, true, true} << false;
        QTest::newRow("No All") << QStringList{"noAll"} << QList<bool>{false, false, false}
                                << false;
        QTest::newRow("No, then Yes All")
            << QStringList{"no", "yesAll"} << QList<bool>{false, true, true} << false;
        QTest::newRow("Yes, then Cancel")
            << QStringList{"yes", "cancel"} << QList<bool>{true, false, false} << true;
    }
    void overwriteAnswers() {
        QFETCH(QStringList, answers);
        QFETCH(QList<bool>, replaced);
        QFETCH(bool, aborted);
        KeepInputs({"gradient.bmp", "shapes.png", "sunset.tga"});
        CScript script;
        Build(script, kPNG);
        // First run: the outputs are made.
        auto input = SelectAllIn(in_, false, true);
        QVERIFY(controller_->start(script, path("test.ksc")));
        QVERIFY(WaitForTheEnd());
        QVERIFY(CloseAndWait());
        QCOMPARE(Outputs().size(), 3);
        for (const QString& o : Outputs()) {
            QFile f(out_ + "/" + o);
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write("old");
        }
        // Second run, not unattended: each existing output is asked about.
        input = SelectAllIn(in_, true, true);
        auto questions = AnswerEach("overwriteQuestion", answers);
        QVERIFY(controller_->start(script, path("test.ksc")));
        QVERIFY(WaitForTheEnd());
        QCOMPARE(questions->answered(), int(answers.size()));
        QCOMPARE(questions->texts.first(), "The filename \"" + out_ +
                                               "/gradient.png\" already exists. Do you wish to "
                                               "overwrite this file?");
        int written = 0;
        for (int i = 0; i < 3; ++i) {
            const QString o = out_ + "/" + WithExtension(inputs_.at(i), "png");
            const bool isNew = ReadAll(o) != "old";
            QVERIFY2(isNew == replaced.at(i), qPrintable(o));
            if (isNew) QVERIFY(IsMirrorOf(o, in_ + "/" + inputs_.at(i)));
            written += isNew;
        }
        const QStringList log = Log();
        QCOMPARE(Count(log, "User abort. Processing halted."), aborted ? 1 : 0);
        if (!aborted) {
            QCOMPARE(Count(log, "Output file exists. Overwriting."), written);
            QCOMPARE(Count(log, "Output file exists. Not overwriting."), 3 - written);
            QCOMPARE(log.last(), QString::number(written) + "  File(s) successfully converted.");
        } else {
            QCOMPARE(log.last(), QStringLiteral("User abort. Processing halted."));
        }
        QVERIFY(CloseAndWait());
    }

    // A message box holds the run while Abort is pressed; the abort is
    // confirmed at the next file and ends the run there.
    void abortInTheMiddle() {
        QFile bad(in_ + "/aaa-broken.png");
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write("\x89PNG\r\n\x1a\nthis is not the rest of a PNG file");
        bad.close();
        CScript script;
        Build(script, kPNG);
        auto input = SelectAllIn(in_, true, true);
        QVERIFY(controller_->start(script, path("test.ksc")));
        auto message = WhenShown("batchMessage", [this](QWidget* box) {
            Click(Progress(), "abort");
            Click(box, "ok");
        });
        auto confirm = AnswerEach("abortQuestion", {"yes"});
        QVERIFY(WaitForTheEnd());
        QVERIFY(message->ran);
        QCOMPARE(confirm->answered(), 1);
        const QStringList log = Log();
        QCOMPARE(Count(log, "User abort. Processing halted."), 1);
        QCOMPARE(log.last(), QStringLiteral("User abort. Processing halted."));
        QCOMPARE(CountStarting(log, "Reading "), 2);
        QCOMPARE(CountStarting(log, "Saving "), 0);
        // Nothing written, not even in part.
        QVERIFY2(Outputs().isEmpty(), qPrintable(Outputs().join(", ")));
        QVERIFY(Child<QPushButton>(Progress(), "ok")->isEnabled());
        QVERIFY(!Child<QPushButton>(Progress(), "abort")->isEnabled());
        QVERIFY(CloseAndWait());
        QVERIFY(Temporaries().isEmpty());
    }

    void abortNotConfirmedGoesOn() {
        KeepInputs({"gradient.bmp", "shapes.png", "sunset.tga"});
        QFile bad(in_ + "/aaa-broken.xyz");
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write("not an image");
        bad.close();
        CScript script;
        Build(script, kPNG);
        auto input = SelectAllIn(in_, true, true);
        QVERIFY(controller_->start(script, path("test.ksc")));
        auto message = WhenShown("batchMessage", [this](QWidget* box) {
            Click(Progress(), "abort");
            Click(box, "ok");
        });
        auto confirm = AnswerEach("abortQuestion", {"no"});
        QVERIFY(WaitForTheEnd());
        QCOMPARE(confirm->answered(), 1);
        QCOMPARE(Log().last(), QStringLiteral("3  File(s) successfully converted."));
        QCOMPARE(Outputs().size(), 3);
        QVERIFY(CloseAndWait());
    }

    // Escape while a message holds the run; the next file is skipped.
    void skipAFile() {
        KeepInputs({"gradient.bmp", "shapes.png", "sunset.tga"});
        QFile bad(in_ + "/aaa-broken.xyz");
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write("not an image");
        bad.close();
        CScript script;
        Build(script, kPNG);
        auto input = SelectAllIn(in_, true, true);
        QVERIFY(controller_->start(script, path("test.ksc")));
        auto message = WhenShown("batchMessage", [this](QWidget* box) {
            QTest::keyClick(Progress(), Qt::Key_Escape);
            Click(box, "ok");
        });
        auto ask = AnswerEach("abortOrSkipQuestion", {"skip"});
        QVERIFY(WaitForTheEnd());
        QCOMPARE(ask->answered(), 1);
        const QStringList log = Log();
        QCOMPARE(Count(log, "User pressed ESC. File skipped."), 1);
        QCOMPARE(Count(log, "Unknown format. File skipped."), 1);
        QCOMPARE(log.last(), QStringLiteral("2  File(s) successfully converted."));
        // gradient.bmp, the file after the broken one, was skipped.
        QCOMPARE(Outputs(), (QStringList{"shapes.png", "sunset.png"}));
        QVERIFY(CloseAndWait());
    }

    void saveLogWritesTheLogWithCrLf() {
        KeepInputs({"shapes.png", "stripes.gif"});
        CScript script;
        Build(script, kPNG);
        auto input = SelectAllIn(in_, false, true);
        QVERIFY(controller_->start(script, path("test.ksc")));
        QVERIFY(WaitForTheEnd());
        auto save = WhenShown("saveLogDialog", [this](QWidget* d) {
            static_cast<QFileDialog*>(d)->setDirectory(dir_->path());
            Child<QLineEdit>(d, "fileNameEdit")->setText("run.log");
            d->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Save)->click();
        });
        QVERIFY(Click(Progress(), "saveLog"));
        QVERIFY(save->ran);
        const QStringList log = Log();
        QCOMPARE(ReadAll(path("run.log")), (log.join("\r\n") + "\r\n").toUtf8());
        QCOMPARE(log.last(), QStringLiteral("2  File(s) successfully converted."));
        QVERIFY(CloseAndWait());
    }

    void inputOptionsListRunsWithoutTheInputDialog() {
        QFile list(path("photos.brl"));
        QVERIFY(list.open(QIODevice::WriteOnly));
        list.write(
            ("BRL\r\n" + in_ + "/shapes.png\r\n" + in_ + "/été à la plage.png\r\n").toUtf8());
        list.close();
        CScript script;
        Build(script, kBMP, 1);
        auto in = std::make_unique<CScriptCommand>(CMD_SET_INPUT_OPTIONS);
        in->m_strParam[0] = "photos.brl"; // beside the script
        in->m_nParam[0] = 0;
        in->m_nParam[1] = 0; // the script's output settings
        script.InsertCommand(std::move(in), -1);
        bool dialogShown = false;
        auto watch = AnswerEach("batchInputDialog", {"cancel"});
        auto watchOut = AnswerEach("batchOutputDialog", {"cancel"});
        QVERIFY(controller_->start(script, path("test.ksc")));
        QVERIFY(WaitForTheEnd());
        dialogShown = watch->answered() + watchOut->answered() > 0;
        QVERIFY(!dialogShown);
        QCOMPARE(Log().last(), QStringLiteral("2  File(s) successfully converted."));
        QCOMPARE(Outputs(), (QStringList{"shapes.bmp", "été à la plage.bmp"}));
        QVERIFY(IsMirrorOf(out_ + "/été à la plage.bmp", in_ + "/été à la plage.png"));
        QVERIFY(CloseAndWait());
    }

    void outputFolderThatCannotBeCreated() {
        QFile blocker(path("blocker"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        CScript script;
        Build(script, 0);
        QSignalSpy running(controller_, &BatchController::runningChanged);
        auto input = SelectAllIn(in_, false);
        auto output = OutputAs(kPNG, path("blocker/out"));
        auto error = AnswerEach("outputFolderError", {"ok"});
        // After the message the dialog is still there: cancel it.
        auto cancel = WhenShown("batchOutputDialog", [&](QWidget* w) {
            if (QTest::qWaitFor([&] { return error->answered() > 0; }, 10000)) Click(w, "cancel");
        });
        QVERIFY(!controller_->start(script, path("test.ksc")));
        QCOMPARE(error->answered(), 1);
        QVERIFY2(error->texts.first().startsWith("The output folder '" + path("blocker/out") +
                                                 "' could not be created because "),
                 qPrintable(error->texts.first()));
        QVERIFY(!controller_->running());
        QCOMPARE(running.count(), 0);
        QVERIFY(!Progress());
        QVERIFY(Temporaries().isEmpty());
    }

    void scriptOutputFolderThatCannotBeCreated() {
        QFile blocker(path("blocker"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        out_ = path("blocker/out");
        CScript script;
        Build(script, kPNG);
        auto input = SelectAllIn(in_, false, true);
        auto message = AnswerEach("batchMessage", {"ok"});
        QVERIFY(!controller_->start(script, path("test.ksc")));
        QCOMPARE(message->answered(), 1);
        QVERIFY(message->texts.first().startsWith("The output folder '" + out_ + "'"));
        QVERIFY(!controller_->running());
    }

    void everyFileFails_data() {
        QTest::addColumn<bool>("showErrors");
        QTest::newRow("errors logged") << false;
        QTest::newRow("errors shown") << true;
    }
    void everyFileFails() {
        QFETCH(bool, showErrors);
        KeepInputs({"gradient.bmp", "shapes.png", "sunset.tga"});
        CScript script;
        Build(script, kGIF); // true colour cannot be written as GIF
        auto input = SelectAllIn(in_, showErrors, true);
        auto messages = AnswerEach("batchMessage", {"ok"});
        QVERIFY(controller_->start(script, path("test.ksc")));
        QVERIFY(WaitForTheEnd());
        const QString why =
            QStringLiteral("The image must be 1,2,4, or 8bpp to save in this format");
        QCOMPARE(Count(Log(), why), 3);
        QCOMPARE(Log().last(), QStringLiteral("0  File(s) successfully converted."));
        QCOMPARE(messages->answered(), showErrors ? 3 : 0);
        if (showErrors) QCOMPARE(messages->texts, (QStringList{why, why, why}));
        QVERIFY(Outputs().isEmpty());
        QVERIFY(CloseAndWait());
    }

    void printScriptRunsThePrintRun() {
        KeepInputs({"shapes.png"});
        CScript script;
        script.InsertCommand(std::make_unique<CScriptCommand>(CMD_PRINT), -1);
        auto input = SelectAllIn(in_, false);
        auto output = AnswerEach("batchOutputDialog", {"cancel"});
        QVERIFY(controller_->start(script, path("print.ksc")));
        QVERIFY(WaitForTheEnd());
        QCOMPARE(output->answered(), 0);
        QCOMPARE(Log().last().right(30), QStringLiteral(" File(s) successfully printed."));
        QVERIFY(CloseAndWait());
    }

    void cancelledInputDialogStartsNothing() {
        CScript script;
        Build(script, kPNG);
        QSignalSpy running(controller_, &BatchController::runningChanged);
        auto input = WhenShown("batchInputDialog", [](QWidget* w) {
            static_cast<CBatchInputDlg*>(w)->fileChooser()->reject();
        });
        QVERIFY(!controller_->start(script, path("test.ksc")));
        QVERIFY(input->ran);
        QCOMPARE(running.count(), 0);
        QVERIFY(!QFileInfo::exists(path("Brellix.conf")));
        QVERIFY(Temporaries().isEmpty());
    }

    void dialogsReadBackWhatTheLastRunChose() {
        KeepInputs({"shapes.png"});
        CScript script;
        Build(script, 0);
        const QString tifOut = path("tif out");
        auto input = WhenShown("batchInputDialog", [&](QWidget* w) {
            auto* d = static_cast<CBatchInputDlg*>(w);
            d->fileChooser()->setDirectory(in_);
            d->fileChooser()->selectNameFilter(d->fileChooser()->nameFilters().at(0));
            Child<QCheckBox>(d, "interruptOnErrors")->setChecked(true);
            Click(d, "selectAll");
        });
        auto output = OutputAs(kTIF, tifOut, 3);
        QVERIFY(controller_->start(script, path("test.ksc")));
        QVERIFY(WaitForTheEnd());
        QVERIFY(QFileInfo::exists(tifOut + "/shapes.tif"));
        QVERIFY(CloseAndWait());

        bool interrupt = false;
        QString folder, type, subType, outFolder;
        input = WhenShown("batchInputDialog", [&](QWidget* w) {
            auto* d = static_cast<CBatchInputDlg*>(w);
            folder = d->fileChooser()->directory().absolutePath();
            interrupt = Child<QCheckBox>(d, "interruptOnErrors")->isChecked();
            Click(d, "selectAll");
        });
        output = WhenShown("batchOutputDialog", [&](QWidget* w) {
            type = Child<QComboBox>(w, "outputType")->currentText();
            subType = Child<QComboBox>(w, "subType")->currentText();
            outFolder = Child<QLineEdit>(w, "outputFolderEdit")->text();
            Click(w, "cancel");
        });
        QVERIFY(!controller_->start(script, path("test.ksc")));
        QVERIFY(interrupt);
        QCOMPARE(QFileInfo(folder), QFileInfo(in_));
        QVERIFY(type.startsWith("TIF - "));
        QCOMPARE(subType, QStringLiteral("Packbits Compressed"));
        QCOMPARE(outFolder, tifOut);
    }

    void commandLineRunsWithoutDialogs() {
        KeepInputs({"gradient.bmp", "rings.tif", "sunset.tga"});
        CScript script;
        Build(script, kPNG);
        CommandLine cl;
        cl.scriptPath = path("test.ksc").toStdString();
        cl.inputSpec = (in_ + "/*.t??").toStdString();
        cl.allFiles = false;
        cl.logPath = path("cl.log").toStdString();
        cl.mode = CommandLine::RunRequested;
        BatchStart how;
        how.commandLine = &cl;
        QSignalSpy finished(controller_, &BatchController::finished);
        auto dialogs = AnswerEach("batchInputDialog", {"cancel"});
        QVERIFY(controller_->start(script, path("test.ksc"), how));
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 60000);
        QCOMPARE(dialogs->answered(), 0);
        QVERIFY(!controller_->running());
        QCOMPARE(Outputs(), (QStringList{"rings.png", "sunset.png"}));
        const QByteArray log = ReadAll(path("cl.log"));
        QVERIFY(
            log.endsWith("Batch processing complete.\r\n2  File(s) successfully converted.\r\n"));
        QVERIFY(Temporaries().isEmpty());
        // The eight details of a command-line run are recorded.
        QCOMPARE(AppSettings().Get(setting::OutTransType), 1);
    }

    void commandLineMinimisesAndKeepsTheWindowOpen() {
        KeepInputs({"gradient.bmp", "shapes.png"});
        CScript script;
        Build(script, kPNG);
        CommandLine cl;
        cl.scriptPath = path("test.ksc").toStdString();
        cl.inputSpec = (in_ + "/*.*").toStdString();
        cl.allFiles = false;
        cl.minimise = true;
        cl.keepOpen = true;
        cl.mode = CommandLine::RunRequested;
        BatchStart how;
        how.commandLine = &cl;
        QSignalSpy titles(main_.get(), &QWidget::windowTitleChanged);
        QSignalSpy finished(controller_, &BatchController::finished);
        QVERIFY(controller_->start(script, path("test.ksc"), how));
        QVERIFY(main_->isMinimized());
        QVERIFY(WaitForTheEnd());
        QTRY_VERIFY(!main_->isMinimized()); // shown again for the kept window
        QVERIFY(Progress()->isVisible());
        QCOMPARE(finished.count(), 0);
        QStringList seen;
        for (const QList<QVariant>& t : titles)
            seen << t.at(0).toString();
        QVERIFY2(seen.contains("test.ksc - Processing File 1 of 2"), qPrintable(seen.join(" | ")));
        QCOMPARE(main_->windowTitle(), QStringLiteral("Brellix - test.ksc"));
        QVERIFY(CloseAndWait());
        QCOMPARE(finished.count(), 1);
    }

    void commandLineSetupFailureIsShownOnce() {
        CScript script;
        Build(script, 0); // no "Set Output Options"
        CommandLine cl;
        cl.scriptPath = path("test.ksc").toStdString();
        cl.mode = CommandLine::RunRequested;
        BatchStart how;
        how.commandLine = &cl;
        QSignalSpy finished(controller_, &BatchController::finished);
        auto message = AnswerEach("batchMessage", {"ok"});
        QVERIFY(controller_->start(script, path("test.ksc"), how));
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 20000);
        QCOMPARE(message->answered(), 1);
        QVERIFY(message->texts.first().startsWith(
            "The specified script does not include a \"Set Output Options\" command."));
        QVERIFY(!Progress());
    }

    // The run works on its own copy: what happens to the main window's script
    // meanwhile does not reach it.
    void runKeepsItsOwnScript() {
        KeepInputs({"gradient.bmp", "shapes.png"});
        QFile bad(in_ + "/aaa-broken.xyz");
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write("not an image");
        bad.close();
        auto script = std::make_unique<CScript>();
        Build(*script, kPNG);
        auto input = SelectAllIn(in_, true, true);
        QVERIFY(controller_->start(*script, path("test.ksc")));
        auto message = WhenShown("batchMessage", [&](QWidget* box) {
            script.reset();
            Click(box, "ok");
        });
        QVERIFY(WaitForTheEnd());
        QVERIFY(message->ran);
        QCOMPARE(Log().last(), QStringLiteral("2  File(s) successfully converted."));
        QVERIFY(IsMirrorOf(out_ + "/shapes.png", in_ + "/shapes.png"));
        QVERIFY(CloseAndWait());
    }

    void secondStartWhileRunningDoesNothing() {
        KeepInputs({"shapes.png"});
        CScript script;
        Build(script, kPNG);
        auto input = SelectAllIn(in_, false, true);
        QVERIFY(controller_->start(script, path("test.ksc")));
        QVERIFY(WaitForTheEnd());
        auto again = AnswerEach("batchInputDialog", {"cancel"});
        QVERIFY(!controller_->start(script, path("test.ksc")));
        QCOMPARE(again->answered(), 0);
        QVERIFY(CloseAndWait());
    }

    // The program closing in the middle of a run winds it down.
    void controllerGoneDuringARun() {
        CScript script;
        Build(script, kPNG);
        auto input = SelectAllIn(in_, true, true);
        QFile bad(in_ + "/aaa-broken.xyz");
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write("not an image");
        bad.close();
        bool deleted = false;
        auto message = WhenShown("batchMessage", [&](QWidget*) {
            delete controller_;
            controller_ = nullptr;
            deleted = true;
        });
        QVERIFY(controller_->start(script, path("test.ksc")));
        QTRY_VERIFY(deleted);
        QTRY_VERIFY(!ModalNamed("batchMessage"));
        QVERIFY(Outputs().isEmpty());
    }
};

QTEST_MAIN(BatchControllerTest)
#include "batch_controller_test.moc"
